#pragma once
// The switches that tests (and machines without the vendor's services) set in the environment,
// apart from the operator's settings. Each is read here when asked, so a test may set it before
// the call; an unset or empty switch gives "".
//
// Read by the platform layer itself, as they replace what it stands in for (it sits below this
// folder): TAVELO_BROWSER, TAVELO_MIDI_OUT, TAVELO_MONITORS, TAVELO_SYNTH_FILE,
// TAVELO_TEST_PICK_FILE, TAVELO_TEST_NOTICE_ANSWER and TAVELO_WEB_CA (see their headers and the
// README).
#include <string>

// TAVELO_TEST_COMMANDS: "1" accepts the end-to-end tests' page commands TEST_SCRIPT_FROM_THREAD:
// and TEST_ALERT_FROM_THREAD:.
bool TestCommandsSwitch();
// TAVELO_WEB_BASE: "host:port" of a web board that stands in for the vendor's.
std::string WebBaseSwitch();
// TAVELO_NET_PROBE: the "host:port" addresses (";" between them) the network badge tries when the
// board does not answer, instead of two public DNS resolvers.
std::string NetProbeSwitch();
// TAVELO_RS_RESUME_DELAY_MS: milliseconds a restart waits before it rejoins a cut remote-support
// session, instead of the built-in pause.
std::string RsResumeDelaySwitch();
// TAVELO_INDEX_DELAY_MS: milliseconds before every background job of the song-list indexes.
std::string IndexDelaySwitch();
