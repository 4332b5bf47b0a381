# Warning and sanitizer flags shared by every target of the project.
add_library(tallomir_warnings INTERFACE)
target_compile_options(tallomir_warnings INTERFACE -Wall -Wextra -Wformat=2 -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align -Wshadow)
if(TALLOMIR_WERROR)
  target_compile_options(tallomir_warnings INTERFACE -Werror)
endif()

if(TALLOMIR_SANITIZE AND TALLOMIR_TSAN)
  message(FATAL_ERROR "AddressSanitizer and ThreadSanitizer do not go together")
endif()
if(TALLOMIR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(TALLOMIR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Gives a target the project's warnings.
function(tallomir_warnings target)
  target_link_libraries(${target} PRIVATE tallomir_warnings)
endfunction()
