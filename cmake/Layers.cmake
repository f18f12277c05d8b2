# The folders each folder's code may include from, besides its own; lower layers first:
# file access (with its Qt adapter for the windows), text, pad maps and tablature, then the devices and playback, then the
# windows and the command line. Each library's include root is a generated folder of
# links to only these, so an include the wrong way does not build;
# tests/CheckLayers.cmake reads the same table.
set(PW_LAYERS
  "fileio:"
  "text:"
  "padmap:text"
  "tablature:fileio text padmap"
  "tabimport:text padmap tablature"
  "midifile:text padmap tablature fileio"
  "notation:text padmap tablature"
  "grid:text padmap tablature"
  "recording:text padmap tablature midifile"
  "platform:fileio"
  "kits:padmap platform fileio text"
  "playback:text padmap tablature platform fileio kits"
  "session:text padmap tablature fileio"
  "midi:padmap platform playback"
  "settings:fileio"
  "platform/qt:"
  "editor:text padmap tablature fileio settings platform/qt"
  "templates:settings platform/qt"
  "padmap/ui:text padmap fileio platform/qt"
  "notation/ui:text padmap tablature notation fileio platform/qt"
  "grid/ui:text padmap tablature grid fileio platform/qt"
  "app:text padmap tablature tabimport midifile recording notation platform kits playback midi session fileio settings platform/qt editor templates padmap/ui notation/ui grid grid/ui"
  "cli:text padmap tablature tabimport midifile recording notation platform kits playback midi session fileio"
)
set(PW_ALL_FOLDERS)
foreach(entry ${PW_LAYERS})
  string(REGEX REPLACE ":.*" "" folder "${entry}")
  list(APPEND PW_ALL_FOLDERS ${folder})
endforeach()

# The folders `folder` may include from, itself first.
function(pw_allowed_folders folder out)
  foreach(entry ${PW_LAYERS})
    if(entry MATCHES "^${folder}:(.*)$")
      string(REPLACE " " ";" uses "${CMAKE_MATCH_1}")
      set(${out} ${folder} ${uses} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${folder} has no entry in PW_LAYERS")
endfunction()

# Gives `target` a PUBLIC include root holding links to its folders only. With no folder
# given, the folder is the current one; with ALL, every library folder (programs, tests).
function(pw_include_root target)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
  if(ARGV1 STREQUAL "ALL")
    set(folders ${PW_ALL_FOLDERS} ${ARGN})
    list(REMOVE_ITEM folders ALL)
  else()
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    pw_allowed_folders(${folder} folders)
  endif()
  list(SORT folders)  # a folder before the folders inside it
  file(REMOVE_RECURSE ${root})
  set(linked)
  foreach(f ${folders})
    set(covered FALSE)
    foreach(l ${linked})
      if(f MATCHES "^${l}/")
        set(covered TRUE)
      endif()
    endforeach()
    if(NOT covered)
      get_filename_component(parent ${root}/${f} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${f} ${root}/${f} SYMBOLIC)
      list(APPEND linked ${f})
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
