# zq_resources(<target> <file.rc|file.rec>... [INCLUDE_DIRS <dir>...])
#
# Compiles the target's resource scripts and record descriptions with zqrc at
# build time and adds the generated source (the module's resource directory)
# to the target. Files that the scripts #include or name (headers of ids,
# bitmaps) are tracked through a depfile, so editing them rebuilds.
#
# Apply it to the module that owns the resources (a shared library or a
# program); once per target, with all of its files. A standalone resource
# file of the same resources is written beside the source as
# <target>.res (EngLoadModule can open it); its path is in the target
# property ZQ_RESOURCE_FILE.
function(zq_resources target)
  cmake_parse_arguments(R "" "" "INCLUDE_DIRS" ${ARGN})
  get_property(_done TARGET ${target} PROPERTY ZQ_RESOURCE_FILE SET)
  if(_done)
    message(FATAL_ERROR "zq_resources: called twice for ${target}; give all files in one call")
  endif()
  set(_inputs "")
  foreach(f ${R_UNPARSED_ARGUMENTS})
    get_filename_component(_abs ${f} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND _inputs ${_abs})
  endforeach()
  if(NOT _inputs)
    message(FATAL_ERROR "zq_resources: no input files for ${target}")
  endif()
  set(_includes "")
  foreach(d ${R_INCLUDE_DIRS})
    get_filename_component(_abs ${d} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND _includes -I ${_abs})
  endforeach()
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/zq_resources)
  set(_src ${_dir}/${target}_resources.cpp)
  set(_res ${_dir}/${target}.res)
  add_custom_command(
    OUTPUT ${_src} ${_res}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
    COMMAND $<TARGET_FILE:zqrc> ${_includes} -o ${_src} --res ${_res} --depfile ${_src}.d ${_inputs}
    DEPENDS zqrc ${_inputs}
    DEPFILE ${_src}.d
    COMMENT "Compiling resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${_src})
  set_property(TARGET ${target} PROPERTY ZQ_RESOURCE_FILE ${_res})
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    # A program's resources are looked up in its dynamic symbol table.
    target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=zq_resource_directory")
  endif()
endfunction()
