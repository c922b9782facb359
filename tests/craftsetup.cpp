// craftsetup - builds setups that the builder refuses to make, for the tests
// of the installer's own checks: names that reach out of the install folder,
// missing entries, bad counts. Written with the project's package writer, the
// same way the builder writes a setup.
//
//   craftsetup STUB OUT [key=value...]
//     names=A|B|C     the file list ('|' between names; default Uninst.exe|Demo.exe|Readme.txt)
//     count=N         fileCount (default: the number of names)
//     folder=TEXT     installFolderName (default "Crafted Product")
//     subfolder=TEXT  startMenuSubfolder (default empty)
//     product=TEXT    productName (default "Crafted")
//     skip=N          leave the entry File<N> out
//     codepage=N      the code page the texts are in (default 0: the system's)
//     class=TEXT      runningWindowClass (default empty)
//     uninstallformat=TEXT  uninstallShortcutFormat (default "Uninstall %s")
// Every file entry holds "crafted file N\r\n", stored.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/setupconfig.h"
#include "app/setuplayout.h"
#include "package/configpatch.h"
#include "package/package.h"
#include "package/transfer.h"
#include "package/writer.h"

static void setText(char* field, size_t width, const std::string& text)
{
    memset(field, 0, width);
    memcpy(field, text.data(), text.size() < width ? text.size() : width - 1);
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: craftsetup STUB OUT [names=A|B] [count=N] [folder=F] [subfolder=S] [product=P] [skip=N] [codepage=N] [class=C] [uninstallformat=F]\n");
        return 2;
    }
    std::string names = "Uninst.exe|Demo.exe|Readme.txt", folder = "Crafted Product", subfolder, product = "Crafted";
    std::string windowClass, uninstallFormat = "Uninstall %s";
    int count = -1, skip = -1;
    uint32_t codePage = 0;
    for (int i = 3; i < argc; i++) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        std::string key = arg.substr(0, eq), value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        if (key == "names") names = value;
        else if (key == "count") count = atoi(value.c_str());
        else if (key == "folder") folder = value;
        else if (key == "subfolder") subfolder = value;
        else if (key == "product") product = value;
        else if (key == "skip") skip = atoi(value.c_str());
        else if (key == "codepage") codePage = (uint32_t)strtoul(value.c_str(), NULL, 10);
        else if (key == "class") windowClass = value;
        else if (key == "uninstallformat") uninstallFormat = value;
        else {
            fprintf(stderr, "craftsetup: unknown key %s\n", key.c_str());
            return 2;
        }
    }
    FILE* in = fopen(argv[1], "rb");
    if (!in) {
        perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> stub;
    int c;
    while ((c = fgetc(in)) != EOF)
        stub.push_back((uint8_t)c);
    fclose(in);

    SetupConfig config;
    memset(&config, 0, sizeof config);
    std::string list = names;
    int named = 1;
    for (char& ch : list)
        if (ch == '|') {
            ch = 0;
            named++;
        }
    memcpy(config.fileNames, list.data(), list.size() < sizeof config.fileNames ? list.size() : sizeof config.fileNames);
    config.fileCount = count >= 0 ? count : named;
    config.codePage = codePage;
    setText(config.productName, sizeof config.productName, product);
    setText(config.productVersion, sizeof config.productVersion, "1.0");
    setText(config.installFolderName, sizeof config.installFolderName, folder);
    setText(config.startMenuSubfolder, sizeof config.startMenuSubfolder, subfolder);
    setText(config.startupArguments, sizeof config.startupArguments, "|");
    setText(config.uninstallShortcutFormat, sizeof config.uninstallShortcutFormat, uninstallFormat);
    setText(config.runningWindowClass, sizeof config.runningWindowClass, windowClass);
    setText(config.installingLabelFormat, sizeof config.installingLabelFormat, "Installing %s");
    config.backColorTop = 0x00AA8056;
    config.progressRange = 1000;

    FileHandle package = createPackage(argv[2]);
    if (package == INVALID_FILE) {
        fprintf(stderr, "craftsetup: cannot create %s\n", argv[2]);
        return 1;
    }
    setConfigPatch((uint8_t*)&config, CONFIG_PAYLOAD_SIZE, PATCH_ENCIPHER | PATCH_STORE_POSITION);
    int ok = addMemory(stub.data(), (int32_t)stub.size(), MAIN_ENTRY_NAME, XFER_PATCH);
    for (int i = 1; ok && i < named && i < MAX_SETUP_FILES; i++) {
        if (i == skip)
            continue;
        char entry[32], text[64];
        snprintf(entry, sizeof entry, FILE_ENTRY_FORMAT, i);
        snprintf(text, sizeof text, "crafted file %d\r\n", i);
        ok = addMemory(text, (int32_t)strlen(text), entry, 0);
    }
    if (!closePackage(package) || !ok) {
        fprintf(stderr, "craftsetup: could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
