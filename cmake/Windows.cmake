# The Windows build (mingw-w64, cmake/toolchains/): the engine, korvane-check,
# korvane-reg, SysInfoDll.dll and the test seeder. The windows are Qt and stay
# on Linux: Debian has no Qt for mingw.
set(KORVANE_GUI OFF CACHE BOOL "Build the Qt windows" FORCE)
enable_language(RC)
# The programs and SysInfoDll.dll side by side, as they are installed.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Vista: the floor winpthreads (std::thread of the -posix compilers) sets.
add_compile_definitions(_WIN32_WINNT=0x0600 WINVER=0x0600 NOMINMAX WIN32_LEAN_AND_MEAN)
# The C and C++ run-times linked in, so the programs need no mingw DLLs beside them.
add_link_options(-static -static-libgcc -static-libstdc++)

find_package(Threads REQUIRED)
set(ZLIB_USE_STATIC_LIBS ON)  # no zlib1.dll beside the programs
find_package(ZLIB REQUIRED)

# OpenSSL cross-built by scripts/build-windows from Debian's source package.
set(KORVANE_OPENSSL_ROOT "" CACHE PATH "OpenSSL built for the target (include/, lib/)")
if(NOT EXISTS "${KORVANE_OPENSSL_ROOT}/lib/libssl.a")
  message(FATAL_ERROR "KORVANE_OPENSSL_ROOT: no lib/libssl.a in '${KORVANE_OPENSSL_ROOT}' (scripts/build-windows builds it)")
endif()
add_library(OpenSSL::Crypto STATIC IMPORTED)
set_target_properties(OpenSSL::Crypto PROPERTIES
  IMPORTED_LOCATION "${KORVANE_OPENSSL_ROOT}/lib/libcrypto.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KORVANE_OPENSSL_ROOT}/include"
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;user32;advapi32")
add_library(OpenSSL::SSL STATIC IMPORTED)
set_target_properties(OpenSSL::SSL PROPERTIES
  IMPORTED_LOCATION "${KORVANE_OPENSSL_ROOT}/lib/libssl.a"
  INTERFACE_INCLUDE_DIRECTORIES "${KORVANE_OPENSSL_ROOT}/include"
  INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)

# nlohmann/json is headers only: the host's, through a folder of its own (the
# host's /usr/include must not reach the cross compiler).
find_path(KORVANE_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(json_dir "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${json_dir}")
file(CREATE_LINK "${KORVANE_NLOHMANN_DIR}/nlohmann" "${json_dir}/nlohmann" SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${json_dir}")
