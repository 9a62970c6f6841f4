# Writes the signed manifest of a release, the file an update server serves as
# "version.txt.sig" (its form: src/update/update_manifest.h):
#
#   cmake -DOPENSSL=openssl -DKEY=private.pem -DPROGRAM=Nelvo.exe -DVERSION=1.5.0 \
#         [-DEXPIRES=2025-09-01T12:00:00Z] -DOUT=version.txt.sig -P cmake/update_manifest.cmake
#
# KEY is the private half of the update key (ECDSA P-256, PEM); it is only read, by openssl.
foreach(required OPENSSL KEY PROGRAM VERSION OUT)
  if(NOT ${required})
    message(FATAL_ERROR "update_manifest.cmake needs -D${required}=...")
  endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "VERSION must be major.minor.patch, not '${VERSION}'")
endif()
set(date "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z")
if(EXPIRES AND NOT EXPIRES MATCHES "^${date}$")
  message(FATAL_ERROR "EXPIRES must be a UTC time as YYYY-MM-DDTHH:MM:SSZ, not '${EXPIRES}'")
endif()

file(SHA256 ${PROGRAM} digest)
set(body "nelvo-update-manifest 1\nversion ${VERSION}\nsha256 ${digest}\n")
if(EXPIRES)
  string(APPEND body "expires ${EXPIRES}\n")
endif()
# What is signed is exactly the lines above, as written to the file.
file(WRITE ${OUT}.signed "${body}")
execute_process(COMMAND ${OPENSSL} dgst -sha256 -sign ${KEY} -out ${OUT}.der ${OUT}.signed RESULT_VARIABLE failed)
if(NOT failed)
  execute_process(COMMAND ${OPENSSL} base64 -A -in ${OUT}.der OUTPUT_VARIABLE signature RESULT_VARIABLE failed)
endif()
file(REMOVE ${OUT}.signed ${OUT}.der)
string(STRIP "${signature}" signature)
if(failed OR signature STREQUAL "")
  message(FATAL_ERROR "openssl could not sign the manifest with ${KEY}")
endif()
file(WRITE ${OUT} "${body}signature ${signature}\n")
