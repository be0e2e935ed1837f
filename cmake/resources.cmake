# Resource scripts are UTF-8 with "#pragma code_page(65001)"; wrc (Winelib) and windres (mingw) both
# compile them to Shift-JIS menus and dialogs.
function(suite_resource rcfile res outvar)
  get_filename_component(rcpath ${rcfile} ABSOLUTE)
  get_filename_component(rcdir ${rcpath} DIRECTORY)
  if(SUITE_WINELIB)
    add_custom_command(OUTPUT ${res}
      COMMAND /usr/lib/wine/wrc --nostdinc -I${rcdir} -I/usr/include/wine/wine/windows -o ${res} ${rcpath}
      DEPENDS ${rcpath} WORKING_DIRECTORY ${rcdir} VERBATIM)
  else()
    set(res ${res}.o)
    add_custom_command(OUTPUT ${res}
      COMMAND ${CMAKE_RC_COMPILER} -I${rcdir} -O coff -o ${res} ${rcpath}
      DEPENDS ${rcpath} WORKING_DIRECTORY ${rcdir} VERBATIM)
  endif()
  set_source_files_properties(${res} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set(${outvar} ${res} PARENT_SCOPE)
endfunction()
