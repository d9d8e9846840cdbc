# What a Windows executable of this project needs beside it at run time, and a function that puts
# it there as the executable is linked, so that it runs from its build folder (under Wine too:
# ctest, and gtest_discover_tests, which runs the executable right after linking it).
# For builds with cmake/mingw-w64-x86_64.cmake only:
#
#   list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)
#   include(WindowsRuntime)
#   quelvo_windows_runtime(quelvo-monitor common_tests ...)
#
# The compiler's run time (libstdc++, libgcc, winpthread) is linked statically by the toolchain
# file, so none of its DLLs is needed.
#
#   QUELVO_WINDOWS_DLLS            libcrypto, libssl, libcurl and zlib: beside the executable
#   QUELVO_WINDOWS_OSSL_MODULES    OpenSSL's legacy provider (old PKCS#12 files): in ossl-modules/
#   QUELVO_WINDOWS_ENGINES         OpenSSL's capi engine (Windows' certificate stores): in
#                                  engines-3/
# The program loads the last two from its own folder (OSSL_PROVIDER_set_default_search_path;
# the dynamic engine's SO_PATH): the folders compiled into libcrypto are not the program's.
# An installer takes the same files to the same places.

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows" OR NOT QUELVO_WINDOWS_DEPS)
  message(FATAL_ERROR "WindowsRuntime.cmake is for builds with cmake/mingw-w64-x86_64.cmake")
endif()

set(QUELVO_WINDOWS_DLLS)
foreach(dll libcrypto-3-x64.dll libssl-3-x64.dll libcurl-4.dll libzlib.dll)
  list(APPEND QUELVO_WINDOWS_DLLS ${QUELVO_WINDOWS_DEPS}/bin/${dll})
endforeach()
set(QUELVO_WINDOWS_OSSL_MODULES ${QUELVO_WINDOWS_DEPS}/lib/ossl-modules/legacy.dll)
set(QUELVO_WINDOWS_ENGINES ${QUELVO_WINDOWS_DEPS}/lib/engines-3/capi.dll)
foreach(file IN LISTS QUELVO_WINDOWS_DLLS QUELVO_WINDOWS_OSSL_MODULES QUELVO_WINDOWS_ENGINES)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} is missing: QUELVO_WINDOWS_DEPS (${QUELVO_WINDOWS_DEPS}) is "
      "not a folder made by tools/windows/deps.sh")
  endif()
endforeach()

# quelvo_windows_runtime(<target>...)
function(quelvo_windows_runtime)
  foreach(target IN LISTS ARGN)
    # Before the link, hence before any POST_BUILD step (test discovery) runs the executable.
    set(dir $<TARGET_FILE_DIR:${target}>)
    add_custom_command(TARGET ${target} PRE_LINK
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/ossl-modules ${dir}/engines-3
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUELVO_WINDOWS_DLLS} ${dir}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUELVO_WINDOWS_OSSL_MODULES}
        ${dir}/ossl-modules
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUELVO_WINDOWS_ENGINES} ${dir}/engines-3
      VERBATIM)
  endforeach()
endfunction()
