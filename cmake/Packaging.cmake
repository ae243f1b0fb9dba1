# A Debian package of the installed program: `cpack --config build/CPackConfig.cmake` (or
# `cmake --build build --target package`). The dependencies are the Debian runtime packages of the
# libraries the two programs link, the X platform plugin Qt needs to show a window, and the
# seven-segment face of the time displays; tests/system/install.sh checks the list against the
# libraries the installed programs really need.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fadewell)
set(CPACK_PACKAGE_VENDOR Fadewell)
set(CPACK_PACKAGE_CONTACT "Fadewell developers <fadewell@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Console for playing recorded audio live on three decks")
set(CPACK_PACKAGE_DESCRIPTION
    "Fadewell loads an audio file on each of three decks, starts one deck while the others fade out,
shows the live deck's remaining and running time in large digits, and sets the sound card's master,
line-in and microphone levels.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY fadewell)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, libqt6core6, libqt6gui6, libqt6widgets6, qt6-qpa-plugins, libqt6dbus6, libportaudio2, libpulse0, libsndfile1, libsoxr0, libasound2, libmpg123-0, libflac12, libavformat59, libavcodec59, libavutil57, libswresample4, liblo7, librtmidi6, libjack-jackd2-0 | libjack-0.125, fonts-dseg")
# The pulse plugin routes ALSA's default device and mixer to a PulseAudio or PipeWire desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")

include(CPack)
