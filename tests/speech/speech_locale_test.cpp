// The speech language (chosen, stored, used from the next start) and the F6 toggle.
#include "speech/engine_harness.h"

ENGINE_SCENES(
    SpeechLocale,
    {"a_chosen_locale_is_stored_beside_the_other_settings_and_used_by_the_next_launch",
     "support ja-JP | config {\"theme\":\"dark\"} | locale ja-JP | recognizer ja-JP 0 | stored "
     "ja-JP | configholds \"theme\":\"dark\" | new | recognizer ja-JP 0 | start | recognizer ja-JP "
     "1"},
    // The session's own reference keeps the English recogniser, and with it the task, alive
    // until the final is delivered.
    {"a_change_during_a_session_applies_from_the_next_start",
     "support ja-JP | start | locale ja-JP | cancelled 0 | partial still english | page detail: "
     "'still english' | stop | final still english at the end | page "
     "showRawAndStartPolish('still english at the end' | state idle | start | recognizer ja-JP 1"},
    {"an_unsupported_locale_is_kept_and_every_start_says_so",
     "locale xx-XX | stored xx-XX | start | page alert('Speech recognizer not available') | new | "
     "start | page alert('Speech recognizer not available')"},
    {"hot_key_asks_the_page_to_toggle_at_once",
     "hotkey! | page =toggleState(); | start | hotkey! | page =if(state==='recording') "
     "toggleState(); | state recording | stop | hotkey! | page =toggleState();"},
    {"hot_key_without_a_web_view_does_nothing", "noview | hotkey | quiet | state idle"});
