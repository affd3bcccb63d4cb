// Scenarios of the sign-on plug-in as data, and the one runner that plays them against a
// PluginTestHost: each scenario is a list of host actions (start, requests, timers, the
// service's answers) and, indented under each action, the transcript it must produce: the
// answer ("= ...", after the calls) and every call the plug-in made of the host, one line each
// (PluginTestHost::DetailTranscript), compared as text; a failing scenario prints the difference.
// With SCENARIO_ACTUAL set to a folder, the actual transcripts are written there too.
//
// Scenario file syntax (a line starting with "#" is a comment; the lines before the first
// scenario begin every scenario of the file):
//   == name                       starts a scenario with a fresh test host
//   command-line ARG...           setup before start: the host's command line
//   region JSON|none              the region's sign-on settings
//   install JSON|none             the install settings (stored again when the plug-in writes)
//   refuse-install-write          the host refuses to store the install settings
//   manager-status JSON           what GET /plugin-manager/v1/status answers
//   answer URL STATUS BODY        the service answers so from now on (STATUS 0: unreachable);
//                                 at first it answers discovery, revocation and the token
//                                 endpoint (a token set for "player-1"), nothing else
//   answer-once URL STATUS BODY   the service's next answer at URL
//   hide PREFIX[; PREFIX...]      leaves out transcript lines starting with PREFIX, answers
//                                 ("= ...") included (the telemetry calls, "resource POST
//                                 /telemetry/", from the start)
//   show PREFIX[; PREFIX...]      keeps them again
//   start [unapplied]             starts (and runs the configuration callback unless unapplied)
//   stop
//   refresh-tokens TOKEN          what the refresh timer runs for TOKEN; "= <code> <message>"
//   GET|POST|PUT|DELETE PATH [JSON]  a request; its transcript ends with "= <answer>"
//   sign-on|refresh|sign-off|user-info [STATUS BODY]
//                                 the plug-in's request for it (a sign-on of "ann" on "NA1"),
//                                 the service answering STATUS BODY once when given
//   advance SECONDS               moves both clocks, running the callbacks that fall due
//   fire                          runs every scheduled callback
//   deliver EVENT JSON            the host delivers an event
// An action written with a leading "~" runs without its transcript being compared.
// Macros, expanded in every line: ${access [SUBJECT]} (player-1 by default), ${id-token},
// ${config-token}, ${service-token JSON}, ${discovery}, ${token-reply SUBJECT [EXPIRES] [no-id]
// [no-refresh]}; in expected lines also ${jitter DELAY} and ${backoff CAP}: the delay, to a tenth
// of a second, that the refresh schedule draws for a token set whose refresh delay is DELAY
// seconds, or that a retry with a cap of CAP seconds draws, predicted from the generators' state
// before the action, and ${last}, the delay drawn last to the millisecond. In the transcript,
// every 32-digit hexadecimal identifier reads <idN>, numbered by first appearance in the scenario.
#ifndef TESTING_PLUGIN_SCENARIOS_H_
#define TESTING_PLUGIN_SCENARIOS_H_

#include <filesystem>

namespace ulix_testing {

// Plays every scenario of the *.txt files in `folder`; each mismatch is a test failure.
void RunScenarioFiles(const std::filesystem::path& folder);

}  // namespace ulix_testing

#endif  // TESTING_PLUGIN_SCENARIOS_H_
