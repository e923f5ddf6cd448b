# Run by CPack on the staged files of the release zip, before it packs them
# (CPACK_PRE_BUILD_SCRIPTS): the text files get Windows line ends, the
# changelog must have an entry for this version, and SHA256SUMS lists the
# checksum of every other file, as sha256sum writes them.
set(staged ${CPACK_TEMPORARY_DIRECTORY})

file(GLOB texts RELATIVE ${staged} ${staged}/*.txt)
foreach(name ${texts})
  file(READ ${staged}/${name} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${staged}/${name} "${text}")
endforeach()

file(STRINGS ${staged}/CHANGELOG.txt entry REGEX "^## \\[${CPACK_PACKAGE_VERSION}\\]")
if(NOT entry)
  message(FATAL_ERROR "CHANGELOG.md has no entry \"## [${CPACK_PACKAGE_VERSION}]\" for this version")
endif()

file(GLOB names RELATIVE ${staged} LIST_DIRECTORIES true ${staged}/*)
list(REMOVE_ITEM names SHA256SUMS)
foreach(name ${names})
  if(IS_DIRECTORY ${staged}/${name})
    message(FATAL_ERROR "${name} is a folder; the zip's files sit at its top, as in a viewer's folder")
  endif()
endforeach()
list(SORT names)
set(sums "")
foreach(name ${names})
  file(SHA256 ${staged}/${name} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${staged}/SHA256SUMS "${sums}")
