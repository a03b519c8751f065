# Core libraries hold everything that can be decided without a window.
# They may depend on the standard library and on each other, never on Qt.

set_property(GLOBAL PROPERTY UFCS_CORE_LIBRARIES "")

# ufcs_core_library(name sources...): a static library whose public headers sit beside its sources.
function(ufcs_core_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    set_property(GLOBAL APPEND PROPERTY UFCS_CORE_LIBRARIES ${name})
endfunction()

# Fails the configure step when a core library links Qt, directly or through another library.
function(ufcs_check_core_libraries)
    get_property(cores GLOBAL PROPERTY UFCS_CORE_LIBRARIES)
    foreach(core IN LISTS cores)
        set(pending ${core})
        set(seen "")
        while(pending)
            list(POP_FRONT pending lib)
            if(lib IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${lib})
            if(lib MATCHES "^Qt[0-9]*::|^Qt[0-9]*[A-Z]")
                message(FATAL_ERROR "core library ${core} links ${lib}; core libraries must not link Qt")
            endif()
            if(TARGET ${lib})
                get_target_property(deps ${lib} LINK_LIBRARIES)
                if(deps)
                    list(APPEND pending ${deps})
                endif()
            endif()
        endwhile()
    endforeach()
endfunction()
