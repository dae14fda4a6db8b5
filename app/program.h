#pragma once
// The program entry: the wait window first, then the windows in their order,
// then the message loop. main() only calls this.

int runQuillora(int argc, char** argv);
