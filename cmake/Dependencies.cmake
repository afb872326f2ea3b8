# Every dependency of the whole program is looked up here, so that a machine that lacks one
# stops at configure time with the name of the Debian package to install.

function(orvane_missing what package)
    message(FATAL_ERROR "${what} not found. Install the Debian package '${package}' "
                        "(or run scripts/install-deps.sh).")
endfunction()

find_package(Qt5 5.15 QUIET COMPONENTS Core Gui Widgets Sql Network Xml PrintSupport Test)
foreach(component Core Gui Widgets Sql Network Xml PrintSupport Test)
    if(NOT Qt5${component}_FOUND)
        orvane_missing("Qt 5 ${component}" qtbase5-dev)
    endif()
endforeach()
# The SQLite driver is a run-time plugin without a CMake package; look for the file itself.
get_target_property(ORVANE_QTCORE_LOCATION Qt5::Core LOCATION)
get_filename_component(ORVANE_QT_LIBDIR ${ORVANE_QTCORE_LOCATION} DIRECTORY)
find_file(ORVANE_QSQLITE_PLUGIN libqsqlite.so qsqlite.dll
          PATHS ${ORVANE_QT_LIBDIR}/qt5/plugins/sqldrivers ${Qt5Core_DIR}/../../../plugins/sqldrivers NO_DEFAULT_PATH)
if(NOT ORVANE_QSQLITE_PLUGIN)
    orvane_missing("Qt SQLite driver (QSQLITE)" libqt5sql5-sqlite)
endif()

# The desktop's keyring, where remembered passwords are kept.
find_package(Qt5Keychain QUIET)
if(NOT Qt5Keychain_FOUND)
    orvane_missing("QtKeychain" qtkeychain-qt5-dev)
endif()

find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
    orvane_missing("pkg-config" pkg-config)
endif()
# Each entry: variable prefix, pkg-config module, Debian package.
foreach(entry "QRCODEGEN;qrcodegencpp;libqrcodegencpp-dev" "HUNSPELL;hunspell;libhunspell-dev"
              "XLSXWRITER;xlsxwriter;libxlsxwriter-dev" "SQLITE3;sqlite3;libsqlite3-dev"
              "LIBZIP;libzip;libzip-dev" "FREEXL;freexl;libfreexl-dev")
    list(GET entry 0 prefix)
    list(GET entry 1 module)
    list(GET entry 2 package)
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
    if(NOT ${prefix}_FOUND)
        orvane_missing("${module}" ${package})
    endif()
endforeach()

# The workbook writer packs faster by answering libxlsxwriter's call into minizip itself
# (src/registry/exports/workbookpacking.cpp). That works only where the library calls a shared
# minizip at run time; a library that carries minizip inside is left as it is.
set(ORVANE_WORKBOOK_PACKING OFF)
if(CMAKE_NM AND NOT WIN32 AND NOT APPLE)
    foreach(library ${XLSXWRITER_LINK_LIBRARIES})
        if(library MATCHES "xlsxwriter[^/]*\\.so")
            execute_process(COMMAND ${CMAKE_NM} -D --undefined-only ${library}
                            OUTPUT_VARIABLE undefined ERROR_QUIET RESULT_VARIABLE failed)
            if(NOT failed AND undefined MATCHES "[ \t]U zipOpenNewFileInZip4_64\n")
                set(ORVANE_WORKBOOK_PACKING ON)
            endif()
        endif()
    endforeach()
endif()
message(STATUS "Faster workbook packing: ${ORVANE_WORKBOOK_PACKING}")
