#pragma once

// The whole start-up of the process; main() only calls this.
int runPelicorde(int argc, char **argv);
