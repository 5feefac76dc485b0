/* The benchmark's reference device: a minimal network peer in plain C that answers at once. Data
 * channel at a TCP port P of 127.0.0.1 (bytes read and dropped), command channel at P + 100 (every
 * command packet answered by one reply of the same code with a short payload). */
#ifndef TAVRIN_BENCH_PEER_H
#define TAVRIN_BENCH_PEER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the peer on its own threads; returns the data port P, or 0. */
int bench_peer_start(void);
/* Stops it and waits for its threads. */
void bench_peer_stop(void);

#ifdef __cplusplus
}
#endif

#endif
