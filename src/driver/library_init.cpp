// The library does no work when it is loaded or unloaded: every service starts
// when the recorder calls one of the exported functions.
