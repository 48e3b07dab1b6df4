// The ratios every benchmark run ends with: each build of the decoder and the
// formatter against its reference, from the medians when the run has
// repetitions (--benchmark_repetitions=5), else from the single runs.
#pragma once

// The two builds measured: the image's compiler flags and this host build's.
enum class Build { Image, Host };

// The suffix of a benchmark measured per build: "Decode24/image flags".
const char *BuildName(Build build);
