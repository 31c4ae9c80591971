/* Stand-ins for vendor libraries that lack entry points of their own. Never called: the tests
   only load them. FULL_VENDOR defines every GPIB and DAQmx name the program resolves;
   PARTIAL_VENDOR defines two USB names and none of the others, which the full stand-in (a
   library it depends on) or the C library would supply through dlsym. */
#define ENTRY(name) \
  int name(void) {  \
    return 0;       \
  }

#ifdef FULL_VENDOR
ENTRY(ibask)
ENTRY(ibclr)
ENTRY(ibconfig)
ENTRY(ibdev)
ENTRY(ibfind)
ENTRY(ibln)
ENTRY(ibloc)
ENTRY(ibonl)
ENTRY(ibrd)
ENTRY(ibrsp)
ENTRY(ibsic)
ENTRY(ibsre)
ENTRY(ibtmo)
ENTRY(ibwrt)
ENTRY(ThreadIbsta)
ENTRY(ThreadIberr)
ENTRY(DAQmxGetSysDevNames)
ENTRY(DAQmxGetDevProductType)
ENTRY(DAQmxGetDevSerialNum)
ENTRY(DAQmxGetDevAOPhysicalChans)
ENTRY(DAQmxGetDevAOMaxRate)
ENTRY(DAQmxGetDevAOMinRate)
ENTRY(DAQmxGetDevAOVoltageRngs)
ENTRY(DAQmxGetDevDILines)
ENTRY(DAQmxGetDevTerminals)
ENTRY(DAQmxCreateTask)
ENTRY(DAQmxStartTask)
ENTRY(DAQmxStopTask)
ENTRY(DAQmxClearTask)
ENTRY(DAQmxCreateAOVoltageChan)
ENTRY(DAQmxCreateDIChan)
ENTRY(DAQmxCfgOutputBuffer)
ENTRY(DAQmxCfgSampClkTiming)
ENTRY(DAQmxCfgChangeDetectionTiming)
ENTRY(DAQmxWriteAnalogF64)
ENTRY(DAQmxCfgDigEdgeStartTrig)
ENTRY(DAQmxDisableStartTrig)
ENTRY(DAQmxRegisterSignalEvent)
ENTRY(DAQmxConnectTerms)
ENTRY(DAQmxDisconnectTerms)
ENTRY(DAQmxGetExtendedErrorInfo)
#endif

#ifdef PARTIAL_VENDOR
ENTRY(get_num_devices)
ENTRY(get_status)
#endif
