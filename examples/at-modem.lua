-- An AT-style modem on the serial line: it answers AT with OK, tells its signal quality and its
-- firmware, and refuses a command it does not know with ERROR. Commands end with CR:
--
--   teskmanager --serial-port /dev/ttyUSB0 --baud 115200 --line-ending serial=CR --open \
--       --script examples/at-modem.lua --report modem.xml --quit-after script

-- --open opened the port before the script started; without it: serial:open()
check(serial:state() == "open", "the port is open")
serial:discard() -- whatever the modem said before the test is not matched

serial:send("AT")
local reply = serial:expect("OK", 2000)
check(reply ~= nil, "modem answers AT")

serial:send("AT+CSQ")
local rssi, ber = serial:expect{pattern = "%+CSQ: (%d+),(%d+)", timeout = 2000}
note("signal " .. tostring(rssi) .. ", bit error rate " .. tostring(ber))
check(rssi ~= nil and tonumber(rssi) <= 31, "signal quality in range")
serial:expect("OK", 1000)

serial:send("AT+GMR")
local firmware = serial:expect{pattern = "([%w%.%-]+)\r\n\r\nOK", timeout = 2000}
note("firmware " .. tostring(firmware))
check(firmware ~= nil, "firmware version given")

serial:send("AT+NOSUCH")
check(serial:expect("ERROR", 2000) ~= nil, "unknown command refused")

-- A line the device or its driver cannot set (a pseudo-terminal has none) is not an error:
-- the reason comes back.
local ok, why = serial:dtr(true)
if not ok then
    note("DTR: " .. why)
end
