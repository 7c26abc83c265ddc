#pragma once

// The real start-up path of zrp-tablet: options, configuration, persisted state, the back end
// (embedded network unless told otherwise), then the window.
int zrpMain(int argc, char** argv);
