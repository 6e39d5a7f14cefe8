# The update-check exchange, the connectivity probe and the GET thread.
target_sources(kv_scan PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uExchange.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uExchangeLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uServerUrls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uSSLRequest.cpp)
target_link_libraries(kv_scan PUBLIC kv_net kv_core kv_platform)
