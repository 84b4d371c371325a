// Control of the simulated module library, for tests only. The system's
// code never includes this header: it talks to the D2XX interface alone.
#ifndef SIM_CONTROL_H
#define SIM_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

// Forgets every module, handle, queue, fault count and chip state and reads
// the FTD2XX_SIM_* environment variables again, as at a fresh process start.
void ftd2xx_sim_reinit(void);

#ifdef __cplusplus
}
#endif

#endif
