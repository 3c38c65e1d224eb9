#ifndef HELP_TOPIC_H
#define HELP_TOPIC_H

// Opens the help page "<install>/dl/help/<topic without extension>.htm" in
// a browser started in the background at +50+50. The install folder comes
// from DIR_4, the browser program (a path, or a name looked up in PATH) from
// Q4_HELP_BROWSER. Returns 0 when the browser was started, 1 when it cannot
// be (no such program, not executable) or the page address or command line
// would not fit its buffer (then nothing is started).
int display_help_topic(const char* topic);

#endif
