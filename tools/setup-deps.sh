# Sourced by ./test.sh and ./run.sh: installs the Debian packages and npm modules that the build,
# the program and the tests need, skipping what is already there.
apt_packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libboost-dev librtmidi-dev libfluidsynth3 libfltk1.3-dev nlohmann-json3-dev python3
  libxrandr2  # monitors, loaded at run time
  libcurl4-openssl-dev libssl-dev openssl libx11-dev libxtst-dev libxext-dev libxfixes-dev libxss-dev libturbojpeg0-dev libpng-dev
  timgm6mb-soundfont chromium xvfb xauth fonts-noto-cjk fonts-noto-color-emoji nodejs
  fonts-symbola  # the power symbol U+23FB of the quit button
  midicsv planetblupi-music-midi
  libarchive-tools unzip  # unpacking the base package
  fonts-nanum  # the support program's Korean font
  xdotool  # the support program's test types through XTest
)
missing=()
for p in "${apt_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
command -v npm >/dev/null || { DEBIAN_FRONTEND=noninteractive ${sudo_cmd:-} apt-get install -y -qq npm; }
if [ -f package.json ] && { [ ! -d node_modules/playwright-core ] || [ ! -d node_modules/eslint ]; }; then
  npm ci --no-audit --no-fund --loglevel=error
fi
