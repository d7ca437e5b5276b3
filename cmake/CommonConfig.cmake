# Compile settings shared by every target of the project.
add_library(vocalith_common INTERFACE)
target_compile_features(vocalith_common INTERFACE cxx_std_20)
target_compile_options(vocalith_common INTERFACE -Wall -Wextra -Wnon-virtual-dtor)
target_compile_definitions(vocalith_common INTERFACE
    # GLib headers use "signals" as a member name.
    QT_NO_KEYWORDS
    QT_USE_QSTRINGBUILDER
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_UP_TO=0x060400
    _GLIBCXX_ASSERTIONS)

if(VOCALITH_SANITIZE)
    target_compile_options(vocalith_common INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(vocalith_common INTERFACE -fsanitize=address,undefined)
endif()
