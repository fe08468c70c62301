# The product version (GLINT_VERSION, major.minor.patch) is the one number a release changes;
# every other version is made from it and the fixed build number, which the library also
# reports from Zelv_LedDetect.
#   glint_derive_versions(<major.minor.patch>) sets in the caller's scope
#     GLINT_FILE_VERSION_TEXT     major.minor.patch.build   the binaries' file version
#     GLINT_PRODUCT_VERSION_TEXT  major.minor.patch.0       the binaries' product version
#     GLINT_FILE_VERSION, GLINT_PRODUCT_VERSION             the same with commas, for resources
set(GLINT_BUILD_NUMBER 12091)

function(glint_derive_versions version)
  # No leading zeros: "01" would be 1 in a resource but not in a file name.
  set(number "(0|[1-9][0-9]*)")
  if(NOT version MATCHES "^${number}\\.${number}\\.${number}$")
    message(FATAL_ERROR "GLINT_VERSION must be major.minor.patch, three numbers: '${version}'")
  endif()
  # The installer compares versions of at most 255.255.65535.
  if(CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
    message(FATAL_ERROR "GLINT_VERSION is at most 255.255.65535: '${version}'")
  endif()
  set(file_version "${version}.${GLINT_BUILD_NUMBER}")
  set(product_version "${version}.0")
  set(GLINT_FILE_VERSION_TEXT ${file_version} PARENT_SCOPE)
  set(GLINT_PRODUCT_VERSION_TEXT ${product_version} PARENT_SCOPE)
  string(REPLACE "." "," file_version "${file_version}")
  string(REPLACE "." "," product_version "${product_version}")
  set(GLINT_FILE_VERSION ${file_version} PARENT_SCOPE)
  set(GLINT_PRODUCT_VERSION ${product_version} PARENT_SCOPE)
endfunction()
