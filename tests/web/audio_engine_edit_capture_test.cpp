// The spoken edit instruction: its own capture, its field on the page and its answer.
#include "speech/engine_harness.h"

#define RESOLVED "page _editRecordResolve('"

ENGINE_SCENES(
    EditCapture,
    {"partials_rewrite_the_field_and_the_final_is_sent_as_soon_as_it_comes",
     "edit | mark | push | buffers 1 | partial make it | partial make it shorter | fail ignored | "
     "page value = 'make it'; | page value = 'make it shorter'; | quiet | nolog [ | editstop | mic "
     "stop,removeTap 0 | ended 1 | advance 1 | final make it shorter, please | page value = 'make "
     "it shorter, please'; | " RESOLVED "{\"text\":\"make it shorter, please\"}') | cancelled 0 | "
     "advance 1 | quiet"},
    {"a_stop_without_a_new_start_resends_the_last_instruction",
     "editstop | advance 1.5 | " RESOLVED "{\"error\":\"No speech detected\"}') | edit | partial "
     "bullet points | editstop | advance 1.5 | " RESOLVED "{\"text\":\"bullet points\"}') | "
     "editstop | advance 1.5 | " RESOLVED "{\"text\":\"bullet points\"}')"},
    {"an_instruction_of_spaces_is_sent_as_it_is",
     "edit | partial    | editstop | advance 1.5 | " RESOLVED "{\"text\":\"  \"}')"},
    {"an_instruction_that_is_not_utf8_resolves_nothing",
     "edit | partial bad \xFF byte | mark | editstop | advance 1.5 | quiet"},
    {"an_unavailable_recogniser_answers_at_once_and_keeps_the_last_instruction",
     "edit | partial keep me | editstop | advance 1.5 | unavailable | edit | " RESOLVED
     "{\"error\":\"Speech recognizer not available\"}') | editstop | advance 1.5 | " RESOLVED
     "{\"text\":\"keep me\"}')"},
    {"a_failed_start_reports_and_the_next_start_replaces_its_tap",
     "micfail device busy | edit | " RESOLVED
     "{\"error\":\"Failed to start audio\"}') | edit | micok | edit | nomic refused | push | "
     "buffers 1 | editstop | advance 1.5 | " RESOLVED "{\"error\":\"No speech detected\"}')"},
    {"one_capture_at_a_time_and_a_refused_start_leaves_the_running_one_alone",
     "start | mark | edit | editstop | "
     "mic | push | buffers 1 | stop | final dictated | edit | mark | start | state idle | push | "
     "buffers 1"},
    {"a_capture_started_during_the_hand_over_keeps_its_own_request",
     "edit | partial first | editstop | advance 0.5 | edit | #0 cancelled 1 | advance 1 | " RESOLVED
     "{\"error\":\"No speech detected\"}') | push | buffers 1 | partial second | editstop | "
     "advance 1.5 | " RESOLVED "{\"text\":\"second\"}')"},
    {"a_hand_over_after_the_controller_is_gone_sends_nothing",
     "edit | partial words | editstop | gone | mark | advance 1.5 | quiet"});
