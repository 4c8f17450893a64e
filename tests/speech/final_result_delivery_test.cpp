// Delivery of a session's final text: trimmed, shown raw, polished, counted, released.
#include "speech/engine_harness.h"

#define FAMILY "\U0001F468\u200D\U0001F469"

ENGINE_SCENES(
    FinalResultDelivery,
    // Counting is file work: it runs on the main queue, not on the HTTP worker. A family emoji
    // and an accented letter are one character each.
    {"trims_polishes_and_counts_the_raw_characters_on_the_main_queue",
     "start | stop | final \u00a0 he\u0301llo " FAMILY " \u2028 | page Polish('he\u0301llo " FAMILY
     "','Extract') | body \"content\":\"he\u0301llo | workerreply! Hello. | usage 0 0 | run | "
     "usage 7 1 | page =updateResult('he\u0301llo " FAMILY "', 'Hello.', 'Extract'); | page "
     "_nativeUsageData"},
    // The release of a polished session leaves a newer one alone.
    {"a_failed_polish_shows_the_raw_text_says_why_and_still_counts",
     "start | stop | final as is | start | httpfail Could not connect | page updateResult('as "
     "is', 'as is', 'Extract', 'no connection'); | usage 5 1 | push | buffers 1 | partial new | "
     "page 'new' | stop | final new | page Polish('new' | reply New. | usage 8 2 | start | stop | "
     "final x | gone | mark | reply X. | usage 8 2 | quiet"},
    // A second stop finds nothing to deliver or count again.
    {"nothing_said_resets_the_page_and_counts_nothing",
     "start | stop | final  \n \r\n\t | page error_no_speech | tray badge on,tooltip "
     "Recording...,badge off,tooltip Quorvel | sent 0 | usage 0 0 | start | stop | final hi | "
     "reply Hi. | mark | stop | mic | final hi | advance 3 | page error_no_speech | quiet | sent 1 "
     "| usage 2 1 | tray badge off,tooltip Quorvel"});
