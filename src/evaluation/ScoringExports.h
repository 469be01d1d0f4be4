#pragma once
// The eleven scoring functions the program exports in its dynamic symbol
// table, with C linkage, for tools and plug-ins that load them by name. The
// reference parameters are passed as pointers by the platform's C calling
// convention. Success is 1 where a function returns a status; 0 means the
// input was unusable (null pointer, impossible size) and the outputs were
// set to their "nothing found" values.
//
// Order of the names in the export table: GetTotalScore, LoudnessTrack,
// PortamentoTrack, Track2ndHmn, VibratoTrack, GetNoteScore,
// SetLinearScoringParam, SetScoreFunction, SetSineScoringParam,
// asymmetric_score_ratio, symmetric_score_ratio.

#define VK_SCORING_EXPORT __attribute__((visibility("default"), used))

extern "C" {

// One frame of frameLength samples (a power of two, scaled to +-1) at
// sampleRate: 1-based bin positions of the fundamental (three-harmonic
// product, about 220-1200 Hz) and of the second harmonic (two-harmonic
// product), and the sum of the magnitudes. Returns 1.
VK_SCORING_EXPORT int Track2ndHmn(float* samples, float& fundamentalPos, float& secondPos,
                                  float& magnitudeSum, int sampleRate, int frameLength);

// found = 1 when the positive values oscillate around their mean with
// minCrossings <= sign changes < maxCrossings and minDepth < relative RMS
// depth < maxDepth. Returns 1.
VK_SCORING_EXPORT int VibratoTrack(float* values, int count, int& found, int maxCrossings,
                                   int minCrossings, float maxDepth, float minDepth);

// Signed size in semitones of a glide (type 1 up, -1 down) or a riff (type 2)
// among the positive values; 0 and type 0 when there is none.
VK_SCORING_EXPORT float PortamentoTrack(float* values, int count, int& type, float maxGlide,
                                        float minGlide, float maxRiff, float minRiff);

// Mean level (dB, capped at 72) of overlapping windows of 2 * blockLength
// values and the relative variation of the levels near the mean. Returns 1.
VK_SCORING_EXPORT int LoudnessTrack(float* values, int count, int blockLength, float& meanLevel,
                                    float& variation, float floor, float meanScale,
                                    float variationScale);

// Note score 0 to 100 for a deviation in quarter tones, with the current
// score function and its parameters.
VK_SCORING_EXPORT float GetNoteScore(int deviation);
VK_SCORING_EXPORT int SetLinearScoringParam(int tolerance, int slope);
VK_SCORING_EXPORT int SetSineScoringParam(int tolerance, int range);
VK_SCORING_EXPORT int SetScoreFunction(int function);
VK_SCORING_EXPORT double symmetric_score_ratio(double x, double tol);
VK_SCORING_EXPORT double asymmetric_score_ratio(double x, double tol);
VK_SCORING_EXPORT int GetTotalScore(float pitchScore, float vibratoWeight, float portamentoWeight,
                                    float performanceWeight, float pitchWeight, int vibratoCount,
                                    int vibratoFull, int portamentoCount, int portamentoFull,
                                    float performance, float& total);
}
