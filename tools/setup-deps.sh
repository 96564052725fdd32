# Sourced by ./run.sh and ./test.sh: installs the Debian packages (and for the tests the npm
# modules) that are missing. `. tools/setup-deps.sh run` installs what building and running the
# programs needs; without an argument the test tools come too.
run_packages=(
  build-essential cmake ninja-build pkg-config
  libboost-dev librtmidi-dev libfltk1.3-dev nlohmann-json3-dev
  libcurl4-openssl-dev libssl-dev libx11-dev libxtst-dev libxext-dev libxfixes-dev libxss-dev libturbojpeg0-dev libpng-dev
  libfluidsynth3 timgm6mb-soundfont  # the built-in synthesizer, loaded at run time, and its SoundFont
  libxrandr2  # monitors, loaded at run time
  chromium fonts-noto-cjk fonts-noto-color-emoji
  fonts-symbola  # the power symbol U+23FB of the quit button
  libarchive-tools unzip  # unpacking the base package
  fonts-nanum  # the support program's Korean font
)
test_packages=(
  git python3 ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  openssl xvfb xauth nodejs
  midicsv planetblupi-music-midi
  xdotool  # the support program's test and the first-run test type through XTest
)
apt_packages=("${run_packages[@]}")
[ "${1:-}" = run ] || apt_packages+=("${test_packages[@]}")
missing=()
for p in "${apt_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "${1:-}" != run ]; then
  command -v npm >/dev/null || { DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq npm; }
  if [ -f package.json ] && { [ ! -d node_modules/playwright-core ] || [ ! -d node_modules/eslint ]; }; then
    npm ci --no-audit --no-fund --loglevel=error
  fi
fi
