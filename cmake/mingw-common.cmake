# The parts of the MinGW-w64 toolchains that do not depend on the target.
set(CMAKE_C_COMPILER ${KADROOA_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KADROOA_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${KADROOA_MINGW_TRIPLE}-windres)
set(KADROOA_WIDL ${KADROOA_MINGW_TRIPLE}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${KADROOA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Wine's prefix has neither libstdc++-6.dll nor libgcc_s: everything is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
