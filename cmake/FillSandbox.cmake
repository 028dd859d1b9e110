# cmake -DSRC=dir -DDST=dir -P FillSandbox.cmake
# Copies the sandbox template, keeping files the programs wrote since (only
# template files are overwritten), and makes the stand-in commands executable.
# The marker file .tvl-sandbox tells the programs that DST is a sandbox; they
# refuse any folder without it.  Also the way to make a sandbox of one's own:
#   cmake -DSRC=data/sandbox -DDST=/some/folder -P cmake/FillSandbox.cmake
if(NOT SRC OR NOT DST)
  message(FATAL_ERROR "FillSandbox: give -DSRC=<template folder> -DDST=<sandbox folder>")
endif()
get_filename_component(real_dst ${DST} REALPATH)
if(real_dst STREQUAL "/")
  message(FATAL_ERROR "FillSandbox: ${DST} is the root folder; a sandbox is a folder of its own")
endif()
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
file(WRITE ${DST}/.tvl-sandbox "A sandbox of the tvl4700 PC build.\n")
