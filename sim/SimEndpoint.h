/* How the stand-in vendor libraries reach a simulated instrument hosted by the program that
   loaded them: plain C, so the libraries depend on nothing of ours. */
#ifndef ONDREVO_SIM_ENDPOINT_H
#define ONDREVO_SIM_ENDPOINT_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ondrevo_sim_endpoint {
  void* context;
  /* One received line (without its line end). Returns 1 with the bytes to send back (line end
     included) in reply[0..*reply_length) and the delay before they are available, 0 when there
     is nothing to send back, -1 when the instrument has gone (it answers nothing any more). */
  int (*line)(void* context, const char* line, long length, char* reply, long capacity,
              long* reply_length, int* delay_ms);
  /* 1 while the instrument runs a waveform. */
  int (*busy)(void* context);
} ondrevo_sim_endpoint;

#define ONDREVO_SIM_REPLY_CAPACITY 8192

#ifdef __cplusplus
}
#endif

#endif
