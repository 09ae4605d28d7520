# vostrel_check_logic(target): marks a logic library.
# vostrel_check_logic_links(): run once at the end of the configuration.
# Each library marked by vostrel_check_logic() is walked through everything it
# links, directly or through the libraries it links (their link lists and
# their interface link lists), so that a link added anywhere, at any point of
# the configuration, is seen. A logic library may reach Qt's core module,
# OpenSSL and the system's libraries; it fails the configuration when it
# reaches a module of the screen (Qt's Gui, Widgets, PrintSupport, the
# browser), the HTML editor or a window library of ours (..._ui).
function(vostrel_check_logic target)
  set_property(GLOBAL APPEND PROPERTY VOSTREL_LOGIC_LIBRARIES ${target})
endfunction()

function(vostrel_collect_links target out_var)
  set(seen ${${out_var}})
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      if(NOT TARGET ${current})
        continue()
      endif()
      get_target_property(type ${current} TYPE)
      if(type STREQUAL "INTERFACE_LIBRARY" AND property STREQUAL "LINK_LIBRARIES")
        continue()
      endif()
      get_target_property(links ${current} ${property})
      if(NOT links)
        continue()
      endif()
      foreach(link IN LISTS links)
        # $<LINK_ONLY:x> and other generator expressions around a name.
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
        if(link MATCHES "^\\$<" OR link IN_LIST seen)
          continue()
        endif()
        list(APPEND seen ${link})
        list(APPEND pending ${link})
      endforeach()
    endforeach()
  endwhile()
  set(${out_var} ${seen} PARENT_SCOPE)
endfunction()

function(vostrel_check_logic_links)
  get_property(logic GLOBAL PROPERTY VOSTREL_LOGIC_LIBRARIES)
  foreach(target IN LISTS logic)
    set(links "")
    vostrel_collect_links(${target} links)
    foreach(link IN LISTS links)
      if(link MATCHES "Qt6?::(Gui|Widgets|PrintSupport|WebEngine|OpenGL)|QScintilla|_ui$")
        message(FATAL_ERROR "logic library ${target} must not link ${link}")
      endif()
    endforeach()
  endforeach()
endfunction()
