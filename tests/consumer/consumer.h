/* Shared by the C and the C++ half of the consumer test. */
#ifndef HDW_CONSUMER_H
#define HDW_CONSUMER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Calls ExecuteHDW from C; returns 1 when it answered as expected. */
int consumer_check_from_c(void);

/* Judges what a call returned: 1 when the text is "KVT:ready" and started
 * is nonzero. Prints one line, with expected and got on a failure. */
int consumer_judge(const char *caller, const char *text, int started);

#ifdef __cplusplus
}
#endif

#endif /* HDW_CONSUMER_H */
