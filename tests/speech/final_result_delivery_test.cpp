// Delivery of a session's final text: trimmed, shown raw, polished, counted, released.
#include "speech/engine_harness.h"

ENGINE_SCENES(
    FinalResultDelivery,
    // Counting is file work: it runs on the main queue, not on the HTTP worker.
    {"trims_unicode_space_polishes_and_counts_the_raw_characters_on_the_main_queue",
     "start | stop | final \u00a0 hello \u2028 | tray badge on,tooltip Recording...,badge "
     "off,tooltip Quorvel | page showRawAndStartPolish('hello','Extract') | log delivering final: "
     "hello | body \"content\":\"hello\" | workerreply! Hello. | usage 0 0 | run | usage 5 1 | "
     "page "
     "=updateResult('hello', 'Hello.', 'Extract'); | page _nativeUsageData"},
    {"escapes_apostrophes_and_line_ends_in_page_calls",
     "start | stop | final it's a\r\nnew line | page showRawAndStartPolish('it\\'s a\\nnew "
     "line','Extract') | log delivering final: it's a\r\nnew line | reply It's new. | page "
     "updateResult('it\\'s a\\nnew line', 'It\\'s new.', 'Extract');"},
    {"a_mode_without_prompt_answers_at_once_with_the_raw_text",
     "start | send {\"action\":\"stop_recording\",\"mode\":\"\"} | final plain words | sent 0 | "
     "usage 11 1 | page showRawAndStartPolish('plain words','') | page updateResult('plain words', "
     "'plain words', ''); | page _nativeUsageData"},
    {"nothing_said_resets_the_page_counts_nothing_and_releases_the_session",
     "start | final | stop | advance 3 | page error_no_speech | log no speech detected | tray "
     "badge "
     "on,tooltip Recording...,badge off,tooltip Quorvel | late echo | nopage echo | start | final "
     " \n \r\n\t | stop | advance 3 | page error_no_speech | sent 0 | usage 0 0"},
    {"counts_a_joined_emoji_as_one_character",
     "start | stop | final "
     "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 "
     "| reply family | usage 1 1"},
    {"a_failed_polish_shows_the_raw_text_says_why_and_still_counts",
     "start | stop | final keep this | httpfail Could not connect | page updateResult('keep this', "
     "'keep this', 'Extract', 'no connection'); | usage 9 1 | start | stop | final keep this | "
     "httptimeout | page 'the service did not answer in time'); | start | stop | final keep this | "
     "httpreply 500 {\"error\":\"busy\"} | page 'the reply could not be used'); | config "
     "{\"theme\": \"dark\",} | start | stop | final keep this | page 'config.json cannot be "
     "read'); | usage 36 4"},
    {"a_page_without_update_result_logs_the_evaluation_error",
     "start | stop | final words | evalfail ReferenceError: Can't find variable: updateResult | "
     "reply Words. | log JS eval error: ReferenceError: Can't find variable: updateResult"},
    {"without_a_web_view_or_tray_polishing_and_counting_still_happen",
     "noview | noapp | start | partial nobody listens | stop | advance 3 | pending 1 | reply "
     "Unseen. | usage 14 1 | quiet | tray"},
    {"a_completion_after_the_controller_is_gone_records_and_shows_nothing",
     "start | stop | final gone soon | gone | mark | reply Gone. | usage 0 0 | quiet"},
    {"the_release_after_polishing_leaves_a_newer_session_alone",
     "start | stop | final first | start | reply First. | push | buffers 1 | partial second | #0 "
     "late first again | nopage first again | page detail: 'second' | stop | final second | page "
     "showRawAndStartPolish('second'"},
    {"the_delivered_session_is_released_once_polishing_is_done",
     "start | stop | final done | late still held | page detail: 'still held' | reply Done. | late "
     "after release | nopage after release"});
