# cmake -DSRC=dir -DDST=dir -P FillSandbox.cmake
# Copies the sandbox template, keeping files the programs wrote since (only
# template files are overwritten), and makes the stand-in commands executable.
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*)
foreach(f ${files})
  get_filename_component(dir ${DST}/${f} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  if(f MATCHES "^(sbin|bin|usr/sbin)/")
    file(COPY ${SRC}/${f} DESTINATION ${dir}
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(COPY ${SRC}/${f} DESTINATION ${dir})
  endif()
endforeach()
foreach(d var/lib/tarvel var/www/datalogs var/log run/tvl media/usb dev proc)
  file(MAKE_DIRECTORY ${DST}/${d})
endforeach()
