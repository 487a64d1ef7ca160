# Checks the RSA public keys that the configuration must be signed with (one,
# or two while the operator moves to a second key) and turns them into a
# resource of the program:
#   cmake "-DKEYS=a.pem|b.pem" -DPEM=out.pem -DRC=out.rc -P PackageKey.cmake
# Each may be a PEM "PUBLIC KEY" or "RSA PUBLIC KEY" of 2048 to 4096 bits; the
# program gets them as "PUBLIC KEY"s (SubjectPublicKeyInfo), one after the other.
find_program(OPENSSL openssl REQUIRED)
string(REPLACE "|" ";" keys "${KEYS}")
list(LENGTH keys count)
if(count EQUAL 0 OR count GREATER 2)
  message(FATAL_ERROR "VNK_PACKAGE_PUBLIC_KEY names one or two public keys, not ${count}: ${KEYS}")
endif()
set(all "")
set(index 0)
foreach(KEY IN LISTS keys)
  set(one ${PEM}.${index})
  execute_process(COMMAND ${OPENSSL} rsa -pubin -in ${KEY} -pubout -out ${one}
                  RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    execute_process(COMMAND ${OPENSSL} rsa -RSAPublicKey_in -in ${KEY} -pubout -out ${one}
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(failed)
    message(FATAL_ERROR "${KEY} is not a PEM RSA public key (VNK_PACKAGE_PUBLIC_KEY takes public keys, never a private one)")
  endif()
  execute_process(COMMAND ${OPENSSL} rsa -pubin -in ${one} -noout -text OUTPUT_VARIABLE text ERROR_QUIET)
  if(NOT text MATCHES "Public-Key: \\(([0-9]+) bit\\)")
    message(FATAL_ERROR "can't read the size of the key in ${KEY}")
  endif()
  if(CMAKE_MATCH_1 LESS 2048 OR CMAKE_MATCH_1 GREATER 4096)
    message(FATAL_ERROR "${KEY} has ${CMAKE_MATCH_1} bits; a key must have 2048 to 4096")
  endif()
  file(READ ${one} pem)
  string(APPEND all "${pem}")
  file(REMOVE ${one})
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${PEM} "${all}")
file(WRITE ${RC} "// Generated from ${KEYS}: the keys the configuration must be signed with.\nVNK_PACKAGE_KEY RCDATA \"${PEM}\"\n")
