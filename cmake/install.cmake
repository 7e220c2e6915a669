# Installation: the filters, the simulator backend and the PPD go where CUPS
# looks for them.
#
# CUPS finds filters and backends only in its ServerBin and PPDs only under
# its DataDir (or /usr/share/ppd), so the folders come from cups-config. They
# are kept relative to CUPS' own prefix and the install prefix defaults to
# that prefix, which makes a plain `cmake --install` land where the system's
# CUPS finds the files, while `--prefix`, CMAKE_INSTALL_PREFIX and DESTDIR
# still move the whole tree (a staged package, a private cupsd's ServerBin).
#
# Included by the top CMakeLists.txt before the subdirectories, which install
# their programs into VKR_CUPS_FILTERDIR and VKR_CUPS_BACKENDDIR.

set(_vkr_serverbin /usr/lib/cups)
set(_vkr_datadir /usr/share/cups)
find_program(CUPS_CONFIG_EXECUTABLE cups-config)
if(CUPS_CONFIG_EXECUTABLE)
  execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} --serverbin
    OUTPUT_VARIABLE _vkr_out OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _vkr_rc)
  if(_vkr_rc EQUAL 0 AND _vkr_out MATCHES "^/")
    set(_vkr_serverbin ${_vkr_out})
  endif()
  execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} --datadir
    OUTPUT_VARIABLE _vkr_out OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _vkr_rc)
  if(_vkr_rc EQUAL 0 AND _vkr_out MATCHES "^/")
    set(_vkr_datadir ${_vkr_out})
  endif()
endif()

# CUPS' prefix: what comes before lib*/cups in its ServerBin (/usr on Debian).
# Folders outside that prefix stay absolute.
set(_vkr_cups_prefix "")
if(_vkr_serverbin MATCHES "^(/.*)/lib[^/]*/cups$")
  set(_vkr_cups_prefix ${CMAKE_MATCH_1})
endif()
function(_vkr_relative_to_cups_prefix out path)
  if(_vkr_cups_prefix AND path MATCHES "^${_vkr_cups_prefix}/(.+)$")
    set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
  else()
    set(${out} ${path} PARENT_SCOPE)
  endif()
endfunction()
_vkr_relative_to_cups_prefix(_vkr_serverbin_rel ${_vkr_serverbin})
_vkr_relative_to_cups_prefix(_vkr_datadir_rel ${_vkr_datadir})

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND _vkr_cups_prefix)
  set(CMAKE_INSTALL_PREFIX ${_vkr_cups_prefix} CACHE PATH
    "Install prefix (defaults to CUPS' own prefix)" FORCE)
endif()

set(VKR_CUPS_SERVERBIN ${_vkr_serverbin_rel} CACHE STRING
  "CUPS' ServerBin, relative to the install prefix (or absolute)")
set(VKR_CUPS_DATADIR ${_vkr_datadir_rel} CACHE STRING
  "CUPS' DataDir, relative to the install prefix (or absolute)")
set(VKR_CUPS_FILTERDIR ${VKR_CUPS_SERVERBIN}/filter)
set(VKR_CUPS_BACKENDDIR ${VKR_CUPS_SERVERBIN}/backend)
set(VKR_CUPS_PPDDIR ${VKR_CUPS_DATADIR}/model/vkr)

# Programs that cupsd runs must be root-owned and not writable by group or
# others, or it refuses them. Filters and backends install with this mode.
set(VKR_CUPS_PROGRAM_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(FILES ${PROJECT_SOURCE_DIR}/ppd/vk4400.ppd DESTINATION ${VKR_CUPS_PPDDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT filter)

message(STATUS "CUPS filters install to ${VKR_CUPS_FILTERDIR}, backend to "
  "${VKR_CUPS_BACKENDDIR}, PPD to ${VKR_CUPS_PPDDIR} (prefix ${CMAKE_INSTALL_PREFIX})")
