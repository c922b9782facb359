/* spanrec.c - records when files of a given list are created and last
 * written anywhere below a folder, through inotify and CLOCK_MONOTONIC.
 *
 *   spanrec ROOT TIMEOUT_S NAME...
 *
 * The one NAME "*" stands for every file (first created, last written).
 * Prints "ready" on stdout once the watches are in place (the caller starts
 * the installer after that line), then, when every NAME has been closed after
 * writing (or at the timeout, or on SIGTERM):
 *   span MS first FILE last FILE seen N of M late L
 * where span runs from the first NAME created to the last NAME closed after
 * writing, and late counts names found already there in a folder whose watch
 * came after the folder's creation (their creation time is when they were
 * found). Exit 0 when all names were seen, 1 otherwise, 2 on bad arguments.
 * Built by bench/install_span.sh with the host compiler; Linux only. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

enum { MAX_NAMES = 64, MAX_WATCHES = 256 };

static const char* names[MAX_NAMES];
static long long created[MAX_NAMES];   /* ns, 0: not yet */
static long long closed[MAX_NAMES];
static int nameCount;
static int lateCount;
static int inotifyFd;
static int watchIds[MAX_WATCHES];
static char watchPaths[MAX_WATCHES][PATH_MAX];
static int watchCount;
static volatile sig_atomic_t stopRequested;

static long long nowNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int nameIndex(const char* name)
{
    if (nameCount == 1 && strcmp(names[0], "*") == 0)
        return 0;   /* any file: a tool that writes a temporary name first */
    for (int i = 0; i < nameCount; i++)
        if (strcmp(names[i], name) == 0)
            return i;
    return -1;
}

static void addWatch(const char* path, int late);

/* A folder that appeared before its watch: what it already holds counts as
 * created now, and its subfolders are watched too. */
static void scanFolder(const char* path)
{
    DIR* dir = opendir(path);
    if (!dir)
        return;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.')
            continue;
        char child[PATH_MAX];
        if (snprintf(child, sizeof child, "%s/%s", path, entry->d_name) >= (int)sizeof child)
            continue;
        if (entry->d_type == DT_DIR) {
            addWatch(child, 1);
            continue;
        }
        int index = nameIndex(entry->d_name);
        if (index >= 0 && created[index] == 0) {
            created[index] = nowNs();
            lateCount++;
        }
    }
    closedir(dir);
}

static void addWatch(const char* path, int late)
{
    if (watchCount == MAX_WATCHES)
        return;
    int id = inotify_add_watch(inotifyFd, path, IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR);
    if (id < 0)
        return;
    watchIds[watchCount] = id;
    snprintf(watchPaths[watchCount], PATH_MAX, "%s", path);
    watchCount++;
    if (late)
        scanFolder(path);
}

static const char* watchPath(int id)
{
    for (int i = 0; i < watchCount; i++)
        if (watchIds[i] == id)
            return watchPaths[i];
    return NULL;
}

static int allClosed(void)
{
    for (int i = 0; i < nameCount; i++)
        if (closed[i] == 0)
            return 0;
    return 1;
}

static void onStop(int signal)
{
    (void)signal;
    stopRequested = 1;
}

int main(int argc, char** argv)
{
    if (argc < 4 || argc - 3 > MAX_NAMES) {
        fprintf(stderr, "usage: spanrec ROOT TIMEOUT_S NAME... (at most %d names)\n", MAX_NAMES);
        return 2;
    }
    nameCount = argc - 3;
    for (int i = 0; i < nameCount; i++)
        names[i] = argv[3 + i];
    long long deadline = nowNs() + atoll(argv[2]) * 1000000000LL;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);
    inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) {
        perror("spanrec: inotify_init1");
        return 2;
    }
    addWatch(argv[1], 0);
    if (watchCount == 0) {
        fprintf(stderr, "spanrec: cannot watch %s\n", argv[1]);
        return 2;
    }
    scanFolder(argv[1]);   /* subfolders that are there already */
    lateCount = 0;
    for (int i = 0; i < nameCount; i++)
        created[i] = 0;   /* files there before the start do not count */
    printf("ready\n");
    fflush(stdout);

    char buffer[64 * 1024] __attribute__((aligned(__alignof__(struct inotify_event))));
    while (!stopRequested && !allClosed() && nowNs() < deadline) {
        struct pollfd wait = {inotifyFd, POLLIN, 0};
        if (poll(&wait, 1, 200) <= 0)
            continue;
        ssize_t length = read(inotifyFd, buffer, sizeof buffer);
        long long stamp = nowNs();   /* one stamp for the batch: events queue within microseconds */
        if (length <= 0)
            continue;
        for (char* at = buffer; at < buffer + length;) {
            struct inotify_event* event = (struct inotify_event*)at;
            at += sizeof *event + event->len;
            if (event->len == 0)
                continue;
            if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR)) {
                const char* parent = watchPath(event->wd);
                char child[PATH_MAX];
                if (parent && snprintf(child, sizeof child, "%s/%s", parent, event->name) < (int)sizeof child)
                    addWatch(child, 1);
                continue;
            }
            int index = nameIndex(event->name);
            if (index < 0)
                continue;
            if ((event->mask & (IN_CREATE | IN_MOVED_TO)) && created[index] == 0)
                created[index] = stamp;
            if (event->mask & IN_CLOSE_WRITE)
                closed[index] = stamp;
        }
    }
    int first = -1, last = -1, seen = 0;
    for (int i = 0; i < nameCount; i++) {
        if (created[i] && (first < 0 || created[i] < created[first]))
            first = i;
        if (closed[i] && (last < 0 || closed[i] > closed[last]))
            last = i;
        if (created[i] && closed[i])
            seen++;
    }
    double span = first >= 0 && last >= 0 ? (double)(closed[last] - created[first]) / 1e6 : -1.0;
    printf("span %.1f first %s last %s seen %d of %d late %d\n", span, first >= 0 ? names[first] : "-",
           last >= 0 ? names[last] : "-", seen, nameCount, lateCount);
    return seen == nameCount ? 0 : 1;
}
