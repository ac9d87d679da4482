# The table and class-file readers as a library of their own: the host
# links it, and so do the fuzz targets, which build without the host. The
# missing-value rules come from the core (core/Rules.h).
find_package(fmt REQUIRED)
find_package(ZLIB REQUIRED)
set(TARVOK_READER_SOURCES Annotation.cpp ByteSource.cpp ClassFile.cpp FamilySoft.cpp GctPclTable.cpp GeoTable.cpp
    PlainTable.cpp Table.cpp
    TableText.cpp TableValues.cpp)
list(TRANSFORM TARVOK_READER_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/host/tables/)
add_library(tarvok_readers STATIC ${TARVOK_READER_SOURCES})
target_include_directories(tarvok_readers PUBLIC ${PROJECT_SOURCE_DIR}/host ${PROJECT_SOURCE_DIR})
target_link_libraries(tarvok_readers PUBLIC fmt::fmt ZLIB::ZLIB tarvok_core)
tarvok_warnings(tarvok_readers)
