-- A test suite's second script: the request/answer service on a network channel, one line at
-- a time with readline. It starts with its links as the run began, whatever the first script
-- opened, and closes what it opens.
test("connects", function()
    check(net1:connect(), "connected to the address and port the run was given")
end)

test("PING is answered", function()
    net1:send("PING")
    check(net1:readline(2000) == "PONG", "PONG")
end)

test("ADD adds", function()
    net1:send("ADD 2 40")
    check(tonumber(net1:readline(2000)) == 42, "42")
end)
