# The update-check exchange: texts, files, and whole scans against servers on loopback.
korvane_test(NAME scan_exchange_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exchange_test.cpp
  LIBS kv_scan)

find_package(PkgConfig REQUIRED)
pkg_check_modules(KV_EXCHANGE_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
korvane_test(NAME scan_exchange_net_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/exchange_servers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exchange_probe_test.cpp
  LIBS kv_scan PkgConfig::KV_EXCHANGE_HTTPLIB OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB LABELS threads)
korvane_test(NAME scan_exchange_scan_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/exchange_servers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exchange_scan_test.cpp
  LIBS kv_scan kv_testsupport PkgConfig::KV_EXCHANGE_HTTPLIB OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB LABELS threads)
if(TARGET kv_checktool)
  korvane_test(NAME scan_exchange_check_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/exchange_servers.cpp
      ${CMAKE_CURRENT_LIST_DIR}/exchange_check_test.cpp
    LIBS kv_checktool kv_test_machine PkgConfig::KV_EXCHANGE_HTTPLIB OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB LABELS threads)
endif()
