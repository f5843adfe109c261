# The Debian package (cpack -G DEB in a build folder): the install layout under /usr, with the
# libraries the program links found by dpkg-shlibdeps and the parts it loads at run time
# declared by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonarelle)
set(CPACK_PACKAGE_VENDOR "The Sonarelle team")
set(CPACK_PACKAGE_CONTACT "The Sonarelle team <support@sonarelle.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "karaoke recorder: sing along and keep the take")
set(CPACK_PACKAGE_DESCRIPTION
    "Sonarelle plays an accompaniment (a video, an audio file, a KAR karaoke song with\n\
coloured lyrics or a karaoke video CD) and records you singing along. Takes are\n\
saved as WAV or as MP3 with an ID3v1 tag.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://sonarelle.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the MP3 encoder, the built-in
# synthesizer's FluidSynth and the online update's curl (dlopen), the media service's
# GStreamer plugins (playback, demuxers, decoders, the sound server's sink, the MIDI
# synthesizer element), the built-in synthesizer's General MIDI SoundFont. FluidSynth brings
# the small TimGM6mb anyway; the fuller FluidR3_GM, which the synthesizer prefers, is
# recommended, so apt installs it unless told not to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libmp3lame0, libfluidsynth3, libcurl4, gstreamer1.0-plugins-base, \
gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav, \
timgm6mb-soundfont | sf2-soundfont-gm")
# The sound server the program records from and plays to; xdg-utils opens the help.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fluid-soundfont-gm, pulseaudio | pipewire-pulse, xdg-utils")
include(CPack)
