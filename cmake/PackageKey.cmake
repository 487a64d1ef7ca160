# Checks the RSA public key that packages must be signed with and turns it into
# a resource of the program: cmake -DKEY=in.pem -DPEM=out.pem -DRC=out.rc -P PackageKey.cmake
# The key may be a PEM "PUBLIC KEY" or "RSA PUBLIC KEY" of 2048 to 4096 bits;
# the program gets it as a "PUBLIC KEY" (SubjectPublicKeyInfo).
find_program(OPENSSL openssl REQUIRED)
execute_process(COMMAND ${OPENSSL} rsa -pubin -in ${KEY} -pubout -out ${PEM}
                RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
if(failed)
  execute_process(COMMAND ${OPENSSL} rsa -RSAPublicKey_in -in ${KEY} -pubout -out ${PEM}
                  RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
endif()
if(failed)
  message(FATAL_ERROR "${KEY} is not a PEM RSA public key (VNK_PACKAGE_PUBLIC_KEY takes the public key, never the private one)")
endif()
execute_process(COMMAND ${OPENSSL} rsa -pubin -in ${PEM} -noout -text OUTPUT_VARIABLE text ERROR_QUIET)
if(NOT text MATCHES "Public-Key: \\(([0-9]+) bit\\)")
  message(FATAL_ERROR "can't read the size of the key in ${KEY}")
endif()
if(CMAKE_MATCH_1 LESS 2048 OR CMAKE_MATCH_1 GREATER 4096)
  message(FATAL_ERROR "${KEY} has ${CMAKE_MATCH_1} bits; the package key must have 2048 to 4096")
endif()
file(WRITE ${RC} "// Generated from ${KEY}: the key packages must be signed with.\nVNK_PACKAGE_KEY RCDATA \"${PEM}\"\n")
