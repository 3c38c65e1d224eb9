#ifndef HELP_TOPIC_H
#define HELP_TOPIC_H

// Opens the help page "<install>/dl/help/<topic without extension>.htm" in
// a browser started in the background at +50+50. The install folder comes
// from DIR_4, the browser command from Q4_HELP_BROWSER. Returns 0 when the
// command was started, 1 when the shell cannot be run or the page address
// or command would not fit its buffer (then nothing is started).
int display_help_topic(const char* topic);

#endif
