# The update-check exchange: texts, files, and whole scans against servers on loopback.
korvane_test(NAME scan_exchange_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exchange_test.cpp
  LIBS kv_scan)

korvane_test(NAME scan_exchange_net_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exchange_probe_test.cpp
  LIBS kv_scan kv_test_servers LABELS threads)
korvane_test(NAME scan_exchange_scan_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exchange_scan_test.cpp
  LIBS kv_scan kv_test_machine kv_test_servers LABELS threads)
if(TARGET kv_checktool)
  korvane_test(NAME scan_exchange_check_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/exchange_check_test.cpp
    LIBS kv_checktool kv_test_machine kv_test_servers LABELS threads)
endif()
