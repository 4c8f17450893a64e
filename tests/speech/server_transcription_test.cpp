// Dictation with a transcription server configured: the session keeps its audio, posts it at
// stop and delivers the server's transcript, or falls back to the local final on a failure.
#include "speech/engine_harness.h"

// Two blocks of 4096 frames dictated in a mode without a prompt, with a server configured.
#define SERVER(locale)                                                               \
  "config {\"transcription_url\": \"https://stt.example/v1/audio/transcriptions\", " \
  "\"transcription_api_key\": \"sk-stt\", \"speech_locale\": \"" locale              \
  "\"} | new | start "                                                               \
  "| push | push | "
#define FAILURE "| page alert('Transcription server failed: "

ENGINE_SCENES(
    ServerTranscription,
    {"posts_the_captured_audio_once_and_delivers_the_server_transcript",
     SERVER("en-US") "push | partial local | stop Verbatim | sent 1 | wavbytes 24576 | body "
                     "name=\"language\"\r\n\r\nen\r\n | final local words | nopage "
                     "showRawAndStartPolish('local words' | httpreply 200 {\"text\":\" Server "
                     "words. \"} | page showRawAndStartPolish('Server words.','Verbatim') | sent 1 "
                     "| nolog sk-stt"},
    {"a_refused_request_falls_back_to_the_local_final",
     SERVER("en-US") "stop Verbatim | final local words | httpfail Connection refused " FAILURE
                     "Connection refused; the local transcript is used.') | page "
                     "showRawAndStartPolish('local words','Verbatim') | log request failed: "
                     "Connection refused | state idle"},
    {"a_failure_before_the_local_final_waits_for_it",
     SERVER("en-US") "stop Verbatim | httpfail Connection refused " FAILURE
                     " | nopage showRawAndStartPolish | final local words | page "
                     "showRawAndStartPolish('local words','Verbatim') | state idle"},
    {"an_error_status_falls_back_to_the_local_final",
     SERVER("en-US") "stop Verbatim | final local words | httpreply 500 {\"text\":\"never\"} "
                     "| log server answered with status 500 | page showRawAndStartPolish('local "
                     "words'"},
    {"a_reply_without_text_falls_back_to_the_local_final",
     SERVER("en-US") "stop Verbatim | httpreply 200 {\"error\":\"busy\"} | final local words | "
                     "log reply holds no string \"text\" | page showRawAndStartPolish('local "
                     "words'"},
    {"no_answer_in_time_falls_back_to_the_local_final",
     SERVER("en-US") "stop Verbatim | final local words | advance 10.3 | log no answer within 10 "
                     "s | page showRawAndStartPolish('local words' | state idle"},
    {"a_language_without_a_local_recogniser_records_for_the_server",
     SERVER("de-DE") "stop Verbatim | nopage not available | page Listening | body "
                     "name=\"language\"\r\n\r\nde\r\n | httpreply 200 {\"text\":\"Guten Tag.\"} | "
                     "page showRawAndStartPolish('Guten Tag.','Verbatim') | start | push | stop "
                     "Verbatim | httpfail Connection refused " FAILURE
                     " | nopage showRawAndStartPolish( | state idle"});
