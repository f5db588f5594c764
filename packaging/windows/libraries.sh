# The libraries scripts/windows builds for Windows, and how each is configured.
# Sourced by scripts/windows. Changing a line here (or a source version, or the toolchain
# file) rebuilds that library into the cache on the next run; nothing else does.
# Each *_CONFIGURE array is passed to `cmake -S SOURCE -B BUILD` after
# -DCMAKE_TOOLCHAIN_FILE and -DCMAKE_INSTALL_PREFIX.

# libcurl from Debian's `curl` source: static, HTTP(S) only, Schannel the only TLS.
CURL_SOURCE=curl
CURL_CONFIGURE=(
  -G Ninja -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF
  -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF -DCURL_USE_WOLFSSL=OFF
  -DCURL_USE_BEARSSL=OFF -DCURL_USE_NSS=OFF
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF
  -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF
  -DENABLE_UNICODE=ON
)

# GoogleTest and GoogleMock from the `googletest` package's sources: static.
GTEST_SOURCE_DIR=/usr/src/googletest
GTEST_CONFIGURE=(
  -G Ninja -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
)

# Qt base from Debian's `qt6-base` source, with the host's Qt 6.4.2 tools (moc, rcc, uic).
# Only what the window needs: Core, Gui, Widgets, the qwindows platform plugin and the
# Windows (Vista) style; the bundled third-party libraries, never the host's.
# tabletevent is off because the Debian tarball lacks src/3rdparty/wintab; direct2d stays on
# because without it qwindows fails to link on a DirectWrite font-database symbol.
QT_SOURCE=qt6-base
QT_CONFIGURE=(
  -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_dbus=OFF -DFEATURE_sql=OFF
  -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_testlib=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=ON
  -DFEATURE_pkg_config=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_zstd=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
  -DFEATURE_system_textmarkdownreader=OFF
)

# Polish translations of Qt's own texts, from Debian's `qt6-translations` source.
QT_TRANSLATIONS_SOURCE=qt6-translations
QT_TRANSLATIONS=(qtbase_pl)
