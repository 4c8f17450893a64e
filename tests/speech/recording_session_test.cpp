// Permissions, start, stop, the wait for the final result and the failures that end a session.
#include "speech/engine_harness.h"

ENGINE_SCENES(
    RecordingSession,
    {"starts_at_once_with_both_permissions_and_shows_the_badge_once_capture_runs",
     "start! | state recording | mic stop,removeTap 0,removeTap 0,installTap 0 4096,prepare,start "
     "| tray | run | log recording started | tray badge on,tooltip Recording... | quiet"},
    {"first_use_prompts_for_speech_then_microphone_behind_a_closed_popover",
     "speech ask | microphone ask | holdanswers | start | state idle | answers | answers | prompts "
     "speech,microphone | state recording | tray closePopover,showPopover,badge on,tooltip "
     "Recording... | quiet"},
    {"a_refusal_at_the_speech_prompt_says_so_and_reopens_the_popover",
     "speech refuse | microphone ask | start | prompts speech | state idle | tray "
     "closePopover,showPopover | page =console.error('[Native] Speech recognition permission "
     "denied'); alert('Speech recognition permission denied'); | quiet | mic"},
    {"a_refusal_at_the_microphone_prompt_says_so_and_reopens_the_popover",
     "speech ask | microphone refuse | start | prompts speech,microphone | state idle | tray "
     "closePopover,showPopover | page alert('Microphone permission denied') | quiet | mic"},
    {"an_earlier_refusal_asks_nothing_and_leaves_the_popover_alone",
     "speech denied | start | page alert('Speech recognition permission denied') | speech "
     "restricted | start | page alert('Speech recognition permission denied') | speech granted | "
     "microphone denied | start | page alert('Microphone permission denied') | microphone "
     "restricted | start | page alert('Microphone permission denied') | prompts | tray | state "
     "idle"},
    {"permission_answers_after_the_controller_is_gone_change_nothing",
     "speech ask | microphone ask | holdanswers | start | tray closePopover | gone | answers | "
     "answers | tray | quiet | mic | prompts speech"},
    {"results_while_recording_reach_the_page_and_the_session_goes_on",
     "start | mark | partial hello | partial hello it's | final hello it's | page detail: 'hello'} "
     "| page detail: 'hello it\\'s'} | page detail: 'hello it\\'s'} | state recording | tray | "
     "nolog [ | push"},
    {"buffers_reach_the_current_request_only_while_recording",
     "start | push | threadpush | buffers 2 | stop | nopush | buffers 2"},
    {"a_tap_outliving_the_controller_drops_its_buffers", "start | gone | push | buffers 0"},
    {"stop_ends_the_audio_and_delivers_the_final_result_at_once",
     "start | mark | stop | state waiting | mic stop,removeTap 0 | ended 1 | log recording "
     "stopped, waiting for final result... | partial go forward | final go forward ten meters | "
     "state idle | page showRawAndStartPolish('go forward ten meters','Extract') | log delivering "
     "final: go forward ten meters | tray badge off,tooltip Quorvel"},
    {"an_error_after_the_stop_delivers_the_latest_transcription",
     "start | partial turn left | stop | fail no final | state idle | log recognition error: no "
     "final | page showRawAndStartPolish('turn left','Extract') | pending 1"},
    {"without_a_final_the_time_out_delivers_three_seconds_after_the_stop",
     "start | partial almost there | stop | advance 2.9 | state waiting | advance 0.1 | state idle "
     "| log timeout waiting for final, using current text | page "
     "showRawAndStartPolish('almost there','Extract') | final almost there indeed | advance 5 | "
     "pending 1"},
    {"a_final_before_the_stop_is_kept_and_delivered_by_the_time_out",
     "start | final short note | state recording | stop | advance 2.9 | pending 0 | advance 0.1 | "
     "page showRawAndStartPolish('short note','Extract') | pending 1"},
    {"a_start_while_recording_cancels_the_task_and_drops_its_text",
     "start | partial discarded words | start | #0 cancelled 1 | stop | advance 3 | log no speech "
     "detected | nopage showRawAndStartPolish('discarded"},
    // A start that fails undoes itself: the page, which switched to recording on its own, is put
    // back at rest, and the tray never shows a recording that is not happening; F6 then finds
    // nothing recording.
    {"a_start_without_a_recogniser_leaves_no_badge_and_the_page_at_rest",
     "locale xx-XX | start | state idle | tray | page alert('Speech recognizer not available') | "
     "page restoreRecordButton | quiet | mic stop,removeTap 0 | hotkey | page =toggleState();"},
    {"a_start_with_an_unavailable_recogniser_leaves_no_badge_and_the_page_at_rest",
     "unavailable | start | state idle | tray | page alert('Speech recognizer not available') | "
     "page restoreRecordButton | quiet"},
    {"a_failed_audio_start_leaves_no_badge_and_a_later_start_works",
     "micfail no source | start | state idle | tray | log engine start failed: no source | page "
     "alert('Failed to start audio engine') | page restoreRecordButton | quiet | hotkey | page "
     "=toggleState(); | micok | hold | start | nomic refused | tray | answer | tray badge "
     "on,tooltip Recording... | log recording started"},
    {"a_stop_before_the_capture_has_started_never_shows_the_badge",
     "hold | start | stop | answer | advance 3 | tray badge off,tooltip Quorvel | nolog recording "
     "started"},
    // Failures that end a dictation midway are shown at once; the text recognised until then is
    // still delivered, and with none the page goes back to rest instead of "no speech".
    {"a_recognition_error_ends_the_session_and_delivers_what_was_heard",
     "start | partial so far | fail Audio was lost | state idle | nopush | log recognition error: "
     "Audio was lost | page alert('Audio was lost') | page showRawAndStartPolish('so "
     "far','Extract') "
     "| nolog no speech | tray badge on,tooltip Recording...,badge off,tooltip Quorvel"},
    {"a_recognition_error_with_nothing_heard_puts_the_page_at_rest",
     "start | fail Speech model could not be loaded | state idle | page alert('Speech model could "
     "not be loaded') | page restoreRecordButton | nolog no speech"},
    {"a_lost_capture_ends_the_session_and_the_recogniser_finishes_what_it_got",
     "start | partial so far | lose server gone | log audio capture lost: server gone | page "
     "alert('Recording stopped: server gone') | ended 1 | nopush | final so far | state idle | "
     "page "
     "showRawAndStartPolish('so far','Extract') | nolog no speech"},
    {"a_lost_capture_with_nothing_heard_puts_the_page_at_rest",
     "start | lose server gone | page alert('Recording stopped: server gone') | final | state idle "
     "| page restoreRecordButton | nolog no speech"},
    // The final's bound counts from when the recogniser has caught up with the audio; catching
    // up is allowed while the backlog shrinks.
    {"the_bound_counts_from_when_the_recogniser_caught_up",
     "start | partial partial | backlog 2 | stop | backlog 1 | advance 0.25 | backlog 0.5 | "
     "advance "
     "0.25 | backlog 0 | advance 0.25 | advance 2.9 | state waiting | final the whole text | state "
     "idle | nolog timeout | page showRawAndStartPolish('the whole text'"},
    {"a_stalled_recogniser_is_timed_from_the_stop",
     "start | partial partial | backlog 2 | stop | advance 2.9 | state waiting | advance 0.1 | "
     "state idle | log timeout waiting for final | page showRawAndStartPolish('partial'"},
    {"a_time_out_from_an_earlier_stop_does_not_cut_a_later_wait_short",
     "start | stop | final first session | advance 1 | start | advance 1 | stop | advance 1.5 | "
     "state waiting | partial second words | advance 1 | state waiting | final second words, final "
     "| state idle | page showRawAndStartPolish('second words, final' | nolog timeout"},
    {"two_stops_in_a_row_wait_for_the_second_stops_own_time_out",
     "start | partial words | stop | advance 1 | stop | ended 2 | advance 2.5 | state waiting | "
     "advance 0.5 | state idle | page showRawAndStartPolish('words'"},
    {"late_results_of_a_replaced_task_never_touch_the_new_session",
     "start | partial old words | start | #0 cancelled 1 | #0 late stale final | #0 lateerror "
     "stale "
     "error | partial fresh words | nopage stale | page detail: 'fresh words' | nolog stale | stop "
     "| #0 lateerror stale error after stop | state waiting | advance 3 | page "
     "showRawAndStartPolish('fresh words'"},
    {"a_stop_without_a_session_neither_redelivers_nor_counts_again",
     "start | partial hello there | stop | final hello there | reply Hello there. | usage 11 1 | "
     "mark | stop | state waiting | mic | late hello there | advance 3 | state idle | page "
     "error_no_speech | quiet | pending 0 | sent 1 | usage 11 1 | tray badge off,tooltip Quorvel"},
    {"a_stop_before_any_session_resets_the_page_after_the_wait",
     "stop | advance 2.9 | quiet | advance 0.1 | page error_no_speech | log recording stopped, "
     "waiting | log timeout waiting for final | log no speech detected"},
    // Every callback the platform keeps holds the controller weakly.
    {"a_time_out_after_the_controller_is_gone_does_nothing",
     "start | partial words | stop | gone | mark | advance 3 | nolog [ | pending 0"});
