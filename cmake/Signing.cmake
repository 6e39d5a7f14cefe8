# The key the companion installer's signature is checked against.
#
# KORVANE_VENDOR_PUBLIC_KEY names the vendor's Ed25519 public key (PEM): a release
# build trusts installers the vendor signed and nothing else. Without it the build
# makes a key pair of its own in the build tree (signing/), compiles in the public
# half and keeps the private half there for the reference server of the demo and
# the tests (korvane-updsrv --signing-key). No key is ever part of the sources.
set(KORVANE_VENDOR_PUBLIC_KEY "" CACHE FILEPATH
    "The vendor's Ed25519 public key (PEM) for the companion installer; empty: a key pair of this build")

set(KORVANE_INSTALLER_SIGNING_KEY "")
if(KORVANE_VENDOR_PUBLIC_KEY)
  if(NOT EXISTS "${KORVANE_VENDOR_PUBLIC_KEY}")
    message(FATAL_ERROR "KORVANE_VENDOR_PUBLIC_KEY: ${KORVANE_VENDOR_PUBLIC_KEY} does not exist")
  endif()
  set(korvane_public_key_file "${KORVANE_VENDOR_PUBLIC_KEY}")
else()
  set(korvane_signing_dir "${CMAKE_BINARY_DIR}/signing")
  set(KORVANE_INSTALLER_SIGNING_KEY "${korvane_signing_dir}/installer-signing.key")
  set(korvane_public_key_file "${korvane_signing_dir}/installer-signing.pub.pem")
  if(NOT EXISTS "${KORVANE_INSTALLER_SIGNING_KEY}" OR NOT EXISTS "${korvane_public_key_file}")
    find_program(KORVANE_OPENSSL_PROGRAM openssl REQUIRED)
    file(MAKE_DIRECTORY "${korvane_signing_dir}")
    file(CHMOD "${korvane_signing_dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    execute_process(COMMAND "${KORVANE_OPENSSL_PROGRAM}" genpkey -algorithm ed25519
                            -out "${KORVANE_INSTALLER_SIGNING_KEY}"
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Cannot make the installer signing key: ${err}")
    endif()
    file(CHMOD "${KORVANE_INSTALLER_SIGNING_KEY}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
    execute_process(COMMAND "${KORVANE_OPENSSL_PROGRAM}" pkey -in "${KORVANE_INSTALLER_SIGNING_KEY}" -pubout
                            -out "${korvane_public_key_file}"
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Cannot write the installer signing key's public half: ${err}")
    endif()
    message(STATUS "Made this build's installer signing key: ${KORVANE_INSTALLER_SIGNING_KEY}")
  endif()
endif()
file(READ "${korvane_public_key_file}" KORVANE_INSTALLER_PUBLIC_KEY_PEM)
if(NOT KORVANE_INSTALLER_PUBLIC_KEY_PEM MATCHES "-----BEGIN PUBLIC KEY-----")
  message(FATAL_ERROR "${korvane_public_key_file} holds no public key in PEM")
endif()
# Rebuilt when the key file changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${korvane_public_key_file}")
