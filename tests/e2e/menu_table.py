"""The soft-button menu tree as the front panel shows it: for each view, the
title, the labels from soft key 1 down, and the views its links open."""
import re

KEYPAD = ["<--", "-->", "Press"]
HOLDS = ["Max", "Min", "Peak", "Valley", "Active", "Reset"]
FREQS = ["Full BW\n1Hz - 50kHz", "High Freq\n20Hz - 50kHz", "Med Freq\n20Hz - 10kHz",
         "Low Freq\n20Hz - 500Hz", "X Low Freq\n1Hz - 500Hz", "No\nCorrection"]
DIGITS = ["Digit\nLeft", "Digit\nRight", "Increment\nDigit", "Decrement\nDigit", "+/-", "Reset"]
ZEROS = ["DC Only", "Basic", "Advanced", "Auto Zero"]
SCALING = ["3V Full\nScale", "10V Full\nScale", "Custom\nFull Scale"]
OUTPUT_MODES = ["Off", "Wave Form", "RMS"]
# Names the window takes from the models: the time bases of the channels'
# frequency range, the per-division values of a channel's range.
TIME_BASE = re.compile(r"[\d.]+ \S*s")
PER_DIVISION = re.compile(r"[\d.]+\S*/div")
# A channel's range entries are built as "30 G" ...; once its probe is ready
# they carry the probe's own range names ("30G" ...): a table for both.
CHANNEL_RANGES = [re.compile(n.replace(" ", " ?")) for n in ("30 G", "300 G", "3 kG", "30 kG")]

# view id -> (title, labels from soft key 1, {soft key: view id it opens})
TREE = {
    "main": ("Main", ["Channels", "Units", "Display", "External\nOutputs", "Data\nLogging", "System"],
             {1: "channels", 2: "units", 3: "display", 4: "external", 5: "logging", 6: "system"}),
    "channels": ("Channels", ["Channel 1", "Channel 2", "Channel 3", "All\nChannels", "Vector\nSum"],
                 {1: "channel1", 2: "channel2", 3: "channel3", 4: "all", 5: "vsum"}),
    "all": ("All\nChannels", ["Mode", "Range", "Hold", "AC Freq\nSetup", "Relative", "Zero"],
            {1: "allmode", 2: "allrange", 3: "allhold", 4: "allacfreq", 5: "allrelative", 6: "allzero"}),
    "allmode": ("All\nChannels\nMode", ["DC", "AC"], {}),
    "allrange": ("All\nChannels\nRange", ["30 G", "300 G", "3 kG", "30 kG", "Auto"], {}),
    "allhold": ("All\nChannels\nHold", HOLDS, {}),
    "allacfreq": ("All\nChannels\nAC Freq", FREQS, {}),
    "allrelative": ("All\nChannels\nRelative", ["Off", "Auto"], {}),
    "allzero": ("All\nChannels\nZero", ZEROS, {}),
    "vsum": ("Vector\nSum", ["Display", "Hold", "Relative"], {2: "vsumhold", 3: "vsumrelative"}),
    "vsumhold": ("Vector\nSum Hold", ["Max", "Min", "Active", "Reset"], {}),
    "vsumrelative": ("Relative", ["Off", "Auto", "Manual"], {3: "vsumentry"}),
    "vsumentry": ("Manual\nRelative", DIGITS, {}),
    "units": ("Units", ["Flux Density", "Temperature", "Angles", "Time"],
              {1: "flux", 2: "temperature", 3: "angles", 4: "time"}),
    "flux": ("Flux\nDensity", ["Gauss (G)", "Tesla (T)", "Oersted (Oe)", "Amp/Meter\n(A/m)"], {}),
    "temperature": ("Temperature", ["Fahrenheit (F)", "Celsius (C)", "Kelvin (K)"], {}),
    "angles": ("Angles", ["Degrees\n(deg)", "Radians\n(rad)"], {}),
    "time": ("Time", ["Freq (Hz)", "Period (sec)"], {}),
    "display": ("Display", ["Update\nRate", "Brightness\nSettings", "Channels", "Numeric", "Waveform"],
                {1: "rate", 2: "brightness", 3: "displaychannels", 5: "waveform"}),
    "rate": ("Update\nRate", ["5/sec", "2/sec", "1/sec", "0.5/sec"], {}),
    "brightness": ("Brightness\nSettings", ["Display\nBrighter", "Display\nDimmer", "Buttons\nBrighter",
                                            "Buttons\nDimmer"], {}),
    "displaychannels": ("Channels", ["Channel 1", "Channel 2", "Channel 3", "Vector\nSum"], {}),
    "waveform": ("Waveform\nSettings", ["Time Base", "Scale", "Trigger\nSetup", "Run", "Stop", "AC Freq\nSetup"],
                 {1: "timebase", 2: "scale", 3: "trigger", 6: "allacfreq"}),
    "timebase": ("Time Base\n(per div)", [TIME_BASE] * 6, {}),
    "scale": ("Scale", ["Channel 1\nScale", "Channel 2\nScale", "Channel 3\nScale"],
              {1: "scale1", 2: "scale2", 3: "scale3"}),
    "trigger": ("Trigger\nSetup", ["Mode", "Slope", "Level", "Channel"],
                {1: "triggermode", 2: "triggerslope", 3: "triggerlevel", 4: "triggerchannel"}),
    "triggermode": ("Trigger\nMode", ["Free Run", "Auto", "Repeat", "Single"], {}),
    "triggerslope": ("Trigger\nSlope", ["Positive", "Negative"], {}),
    "triggerlevel": ("Trigger\nLevel", DIGITS, {}),
    # Offers the ready channels in AC mode: the cards start in DC.
    "triggerchannel": ("Trigger\nChannel", [], {}),
    "external": ("External\nOutputs", ["Analog\nOutputs", "Classifier\nOutputs"], {1: "analog", 2: "classifiers"}),
    "analog": ("Analog\nOutputs", ["Channel 1", "Channel 2", "Channel 3", "Vector\nSum"],
               {1: "analog1", 2: "analog2", 3: "analog3", 4: "vsumanalog"}),
    "vsumanalog": ("Vector\nSum", ["Output\nMode", "Scaling"], {1: "vsummode", 2: "vsumscaling"}),
    "vsummode": ("Output\nMode", ["Off", "On"], {}),
    "vsumscaling": ("Scaling", SCALING, {3: "vsumfull"}),
    "vsumfull": ("Vect Sum\nOutput\nFull Scale", KEYPAD, {}),
    "classifiers": ("Classifier\nOutputs", ["Channel 1", "Channel 2", "Channel 3", "All\nChannels"],
                    {1: "classifier1", 2: "classifier2", 3: "classifier3", 4: "allclassifiers"}),
    "allclassifiers": ("All\nChannels\nClassifiers", ["Active"], {}),
    "logging": ("Data\nLogging", ["Log to\nUSB Drive", "Log to\nInternal Drive", "Update\nRate", "Screen\nCapture"],
                {1: "usb", 2: "internal", 3: "rate"}),
    "usb": ("Data\nLogging\nUSB", ["Start Data\nLogging"], {}),
    "internal": ("Data\nLogging\nInternal", ["Start Data\nLogging"], {}),
    "system": ("System", ["Comm\nSetup", "Firmware\nUpdate", "Set Date\nand Time", "Display\nSystem Info",
                          "User Setup\nSave-Recall", "More..."],
               {1: "comm", 2: "firmware", 3: "datetime", 4: "sysinfo", 5: "profiles", 6: "more"}),
    "comm": ("Comm\nSetup", ["Network\nConfiguration", "GPIB\nConfiguration", "RS232\nConfiguration"],
             {1: "network", 2: "gpib", 3: "rs232"}),
    "network": ("Network\nConfig", ["Save and\nReboot", "Change\nAddr Mode"], {}),
    # Manual address mode ("Change Addr Mode", or at start when the network is
    # set up so): the four address fields, each typed on a keypad page.
    "network+manual": ("Network\nConfig", ["Save and\nReboot", "Change\nAddr Mode", "Change\nIP Addr",
                                           "Change\nNetmask", "Change\nGateway", "Change\nDNS #1"],
                       {3: "ipaddress", 4: "netmask", 5: "gateway", 6: "dns"}),
    "ipaddress": ("Change\nIP Addr", KEYPAD, {}),
    "netmask": ("Change\nNetmask", KEYPAD, {}),
    "gateway": ("Change\nGateway", KEYPAD, {}),
    "dns": ("Change\nDNS #1", KEYPAD, {}),
    "gpib": ("GPIB\nConfig", KEYPAD, {}),
    "rs232": ("RS232\nConfig", ["Change\nSpeed", "Change\nData Bits", "Change\nStop Bits", "Change\nParity",
                                "Change\nFlow Control"], {}),
    # The stand-in firmware scripts offer no update.
    "firmware": ("Firmware\nUpdate", [], {}),
    "datetime": ("Set Date\nand Time", ["Set Date\nand Time", "Change\nYear", "Change\nMonth", "Change\nDay",
                                        "Change\nHour", "Change\nMinute"],
                 {2: "year", 3: "month", 4: "day", 5: "hour", 6: "minute"}),
    "year": ("Change\nYear", KEYPAD, {}),
    "month": ("Change\nMonth", KEYPAD, {}),
    "day": ("Change\nDay", KEYPAD, {}),
    "hour": ("Change\nHour", KEYPAD, {}),
    "minute": ("Change\nMinute", KEYPAD, {}),
    "sysinfo": ("Display\nSystem\nInfo", [], {}),
    "profiles": ("User\nSetup\nSave and\nRecall", KEYPAD + ["Save", "Recall", "Default"], {}),
    "more": ("System", ["Display\nErrors"], {1: "errors"}),
    "errors": ("System\nErrors", ["Refresh", "Clear\nOldest", "Clear\nAll"], {}),
    # Reached at run time: the power-on report, the hidden key sequence and the
# password.
    "more+poweron": ("System", ["Display\nErrors", "Power On\nOptions"], {1: "errors", 2: "poweron"}),
    "poweron": ("Power On\nOptions", ["Standby at\nPower On", "Run at\nPower On"], {}),
    "more+engineering": ("System", ["Display\nErrors", "Power On\nOptions", "Engineering"],
                         {1: "errors", 2: "poweron"}),
    "password": ("Engineer\nPassword", KEYPAD, {}),
    "engineer": ("Engineer", ["Demo", "Testing"], {1: "demo", 2: "testing"}),
    "demo": ("Demo", ["Normal\nMode", "Demo\nMode"], {}),
    "testing": ("Testing", ["Test Button\nBacklights", "Initialize\nChnl Procs", "Command\nLine Mode"], {}),
}

for c in (1, 2, 3):
    ch = "Channel %d" % c
    TREE.update({
        "channel%d" % c: (ch, ["Mode", "Range", "Hold", "AC Freq\nSetup", "Relative", "Zero"],
                          {k + 1: v % c for k, v in enumerate(["mode%d", "range%d", "hold%d", "acfreq%d",
                                                                 "relative%d", "zero%d"])}),
        "mode%d" % c: (ch + "\nMode", ["DC", "AC"], {}),
        "range%d" % c: (ch + "\nRange", CHANNEL_RANGES + ["Auto\nRange"], {}),
        "hold%d" % c: (ch + "\nHold", HOLDS, {}),
        "acfreq%d" % c: (ch + "\nAC Freq\nSetup", FREQS, {}),
        "relative%d" % c: (ch + "\nRelative", ["Off", "Auto", "Manual"], {3: "relentry%d" % c}),
        "relentry%d" % c: (ch + "\nManual\nRelative", DIGITS, {}),
        "zero%d" % c: (ch + "\nZero", ["Auto", "Manual"], {1: "autozero%d" % c, 2: "zeroentry%d" % c}),
        "zeroentry%d" % c: (ch + "\nManual\nZero", DIGITS, {}),
        "autozero%d" % c: (ch + "\nAuto Zero", ZEROS, {}),
        "scale%d" % c: (ch + "\nScale", [PER_DIVISION] * 6, {}),
        "analog%d" % c: (ch, ["Corrected", "Uncorrected"], {1: "corrected%d" % c, 2: "uncorrected%d" % c}),
        "corrected%d" % c: ("Corrected\nOutput", ["Output Mode", "Scaling"],
                            {1: "corrmode%d" % c, 2: "corrscaling%d" % c}),
        "corrmode%d" % c: (ch + "\nCorrected\nMode", OUTPUT_MODES, {}),
        "corrscaling%d" % c: (ch + "\nCorrected\nScaling", SCALING, {3: "corrfull%d" % c}),
        "corrfull%d" % c: (ch + "\nCorrected\nFull Scale", KEYPAD, {}),
        "uncorrected%d" % c: ("Uncorrected\nOutput", ["Output Mode", "Scaling"],
                              {1: "uncorrmode%d" % c, 2: "uncorrscaling%d" % c}),
        "uncorrmode%d" % c: (ch + "\nOutput\nMode", OUTPUT_MODES, {}),
        "uncorrscaling%d" % c: (ch + "\nScaling", SCALING, {3: "uncorrfull%d" % c}),
        "uncorrfull%d" % c: (ch + "\nUncorr\nFull Scale", KEYPAD, {}),
        "classifier%d" % c: (ch + "\nClassifiers", ["Active", "Set Lower\nThreshold", "Set Upper\nThreshold"],
                             {2: "lower%d" % c, 3: "upper%d" % c}),
        "lower%d" % c: (ch + "\nLower\nClassifier", DIGITS, {}),
        "upper%d" % c: (ch + "\nUpper\nClassifier", DIGITS, {}),
    })


def views_along(keys, start="main"):
    """The views that pressing the soft keys opens in turn from start."""
    views = []
    view = start
    for key in keys:
        view = TREE[view][2][key]
        views.append(view)
    return views
