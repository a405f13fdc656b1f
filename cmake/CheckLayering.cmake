# Fails when a file under app/ includes a GTK, WebKit, GLib, GIO, JavaScriptCore, libsoup or
# poppler header: only platform/gtk may see the toolkit.
file(GLOB_RECURSE sources "${SOURCE_DIR}/app/*.h" "${SOURCE_DIR}/app/*.cpp")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](gtk/|webkit/|glib|gio/|jsc/|libsoup/|poppler|gdk/)")
    if(lines)
        message(FATAL_ERROR "${source} includes a toolkit header: ${lines}")
    endif()
endforeach()
