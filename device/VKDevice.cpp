// The one device object of the process and its life.
#include "device/VKDevice.h"

#include <cstring>

CVKDevice g_Dev;

// Starts with no reply held and no firmware version known. The print options
// are left alone: in the global device they are zero until SetPOption runs.
CVKDevice::CVKDevice() : CVKCtrl_Print() {
  nRet = 0;
  nRcvlen = 0;
  memset(RcvBuf, 0, sizeof(RcvBuf));
  nFwVersion = 0;
  m_pJobOption = &poption;
}

CVKDevice::~CVKDevice() {}
