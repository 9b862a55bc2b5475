-- A test suite's first script: the AT-style modem on the serial line, in named tests. Run the
-- folder with teskmanager-run (or teskmanager --script ... --quit-after script):
--
--   teskmanager-run --serial-port /dev/ttyUSB0 --line-ending serial=CR --open \
--       --host 127.0.0.1 --port 6001 --arg max_rssi=31 \
--       --script examples/suite --report suite.xml

test("the port is open", function()
    check(serial:state() == "open", "open") -- --open opened it
end)
serial:discard()

test("modem answers AT", function()
    serial:send("AT")
    -- The first of the two to arrive wins; a timeout gives nil and why.
    local which = serial:expect{"OK", "ERROR", timeout = 2000}
    check(which == 1, "OK, not ERROR")
end)

test("signal quality in range", function()
    serial:send("AT+CSQ")
    local rssi = serial:expect{pattern = "%+CSQ: (%d+),%d+", timeout = 2000}
    note("signal " .. tostring(rssi))
    check(rssi ~= nil and tonumber(rssi) <= tonumber(args.max_rssi or "31"), "rssi")
    serial:expect("OK", 1000)
end)
