-- A request/answer service on a network channel, one line each way: PING gets PONG, ADD a b
-- the sum, TIME the seconds since 1970, anything else ERR.
--
--   teskmanager --host 127.0.0.1 --port 6001 \
--       --script examples/service.lua --report service.xml --quit-after script

-- The address and port fields of the window (here set by --host and --port).
local ok, why = net1:connect()
check(ok, "connected")
if not ok then
    note("no connection: " .. why)
    return
end

net1:send("PING")
check(net1:expect("PONG\n", 2000) ~= nil, "PING is answered")

net1:send("ADD 2 40")
-- '^': the answer starts right after the previous match.
local sum = net1:expect{pattern = "^(%-?%d+)\n", timeout = 2000}
check(tonumber(sum) == 42, "ADD adds")

net1:sendhex("54 49 4D 45 0A") -- TIME and a line feed, as bytes
local seconds = net1:expect{pattern = "^(%d+)\n", timeout = 2000}
check(seconds ~= nil and math.abs(tonumber(seconds) - os.time()) < 60, "TIME is the time")

net1:send("FLY")
check(net1:expect("ERR", 2000) ~= nil, "an unknown request is refused")

-- A second connection to the same service; net2:connect("10.0.0.5", 6001) would name another.
check(net2:connect(), "a second connection")
net2:send("PING")
check(net2:expect("PONG", 2000) ~= nil, "the second connection is answered")

net1:disconnect()
net2:disconnect()
