# tamb_decoration_names(VAR): the decorative bitmap names, in placement order,
# as app/setuplayout.h lists them (one X(NAME) a line). Used at configure time
# and by embed.cmake in script mode.
function(tamb_decoration_names var)
    file(READ "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../app/setuplayout.h" header)
    string(REGEX MATCHALL "\n +X\\([A-Z]+\\)" entries "${header}")
    set(names "")
    foreach(entry IN LISTS entries)
        string(REGEX REPLACE ".*X\\(([A-Z]+)\\)" "\\1" name "${entry}")
        list(APPEND names ${name})
    endforeach()
    if(NOT names)
        message(FATAL_ERROR "app/setuplayout.h: no decorative bitmap names in DECORATIVE_BITMAP_LIST")
    endif()
    set(${var} ${names} PARENT_SCOPE)
endfunction()
