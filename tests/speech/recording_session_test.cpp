// Start, stop, cancel, the wait for the final result and the failures that end a session.
// ("Polish(" stands for the page call that shows the raw text and starts polishing it.)
#include "speech/engine_harness.h"

ENGINE_SCENES(
    RecordingSession,
    // The stop hands the recogniser the capture's last short block before the audio ends, and
    // the final is delivered as soon as it comes. A tap that outlives the controller feeds
    // nothing.
    {"stop_ends_the_audio_after_its_last_block_and_delivers_the_final_at_once",
     "start | state recording | tray badge on,tooltip Recording... | hotkey! | page "
     "=if(state==='recording') toggleState(); | push | push | buffers 2 | stop | buffers 3 | "
     "ended 1 | nopush | state waiting | partial go | final go on | state idle | page "
     "Polish('go on','Extract') | tray badge off,tooltip Quorvel | start | gone | push | buffers "
     "0"},
    // Each stop waits three seconds for the final, from its own stop: the time-out of an earlier
    // stop does not cut a later wait short.
    {"without_a_final_the_time_out_delivers_three_seconds_after_the_stop",
     "start | stop | advance 2 | start | partial so far | stop | advance 2.9 | state waiting | "
     "advance 0.1 | log timeout waiting | page Polish('so far' | final so far and on | advance 5 "
     "| pending 1"},
    {"results_of_a_cancelled_task_never_reach_the_new_session",
     "start | partial old | start | #0 cancelled 1 | #0 partial stale | #0 final stale | #0 fail "
     "stale | partial new | nopage stale | nolog stale | page 'new' | stop | #0 fail stale | "
     "state waiting | advance 3 | page Polish('new'"},
    {"a_failed_start_leaves_no_badge_and_the_page_at_rest",
     "micfail no source | start | state idle | page alert('Failed to start audio engine') | page "
     "restoreRecordButton | quiet | hotkey! | page =toggleState(); | micok | start | nomic "
     "refused | tray badge on,tooltip Recording... | stop | final x | unavailable | mark | start "
     "| state idle | page alert('Speech recognizer not available') | page restoreRecordButton | "
     "tray"},
    // Failures that end a dictation midway are shown at once; the text recognised until then is
    // still delivered (from a lost capture, the recogniser first finishes what it got), and with
    // none the page goes back to rest instead of "no speech".
    {"a_failure_midway_ends_the_session_and_delivers_what_was_heard",
     "start | partial so far | lose gone | page alert('Recording stopped: gone') | ended 1 | "
     "nopush | final so far | state idle | page Polish('so far' | start | partial heard | fail "
     "Lost | state idle | nopush | page alert('Lost') | page Polish('heard' | start | fail No "
     "model | page restoreRecordButton | nolog no speech"},
    // The final's bound counts from when the recogniser has caught up with the audio, while its
    // backlog shrinks; a stalled recogniser is timed from the stop.
    {"the_final_wait_counts_from_when_the_recogniser_caught_up",
     "start | backlog 2 | stop | backlog 1 | advance 0.25 | backlog 0.5 | advance 0.25 | backlog "
     "0 | advance 3.1 | state waiting | final all | page Polish('all' | nolog timeout | start | "
     "partial stalled | backlog 2 | stop | advance 2.9 | state waiting | advance 0.2 | page "
     "Polish('stalled'"});
