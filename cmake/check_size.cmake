# cmake -DFILE=path -DLIMIT=bytes -P check_size.cmake: fails when FILE is larger than LIMIT.
file(SIZE "${FILE}" size)
message(STATUS "${FILE}: ${size} bytes (limit ${LIMIT})")
if(size GREATER LIMIT)
    message(FATAL_ERROR "${FILE} is ${size} bytes, more than ${LIMIT}")
endif()
