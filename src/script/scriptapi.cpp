#include "scriptapi.h"

#include "channel.h"
#include "scriptrunner.h"

#include <lua.hpp>

#include <cstring>
#include <utility>

namespace {
const char serialType[] = "TeskManager serial channel";
const char networkType[] = "TeskManager network channel";
const char *const globalNames[] = { "serial", "net1", "net2", "net3" };
const char *const linkStateNames[] = { "closed", "opening", "open", "lost" };
constexpr qint64 defaultTimeoutMs = 5000;
constexpr qint64 maxWaitMs = qint64(24) * 3600 * 1000;
const char refusal[] = "%s is not available to a script: a script cannot read or write files or "
                       "start programs";

// A table whose every field is refused: what the sandbox leaves of a library.
void pushRefusingTable(lua_State *lua, const char *library)
{
    lua_newtable(lua);
    lua_newtable(lua);
    lua_pushstring(lua, library);
    lua_pushcclosure(lua, &ScriptApi::refuseField, 1);
    lua_setfield(lua, -2, "__index");
    lua_setmetatable(lua, -2);
}

void setRefusedGlobal(lua_State *lua, const char *name)
{
    lua_pushstring(lua, name);
    lua_pushcclosure(lua, &ScriptApi::refuse, 1);
    lua_setglobal(lua, name);
}
} // namespace

ScriptRunner *ScriptApi::runner(lua_State *lua)
{
    return ScriptRunner::of(lua);
}

void ScriptApi::install(lua_State *lua, ScriptRunner *runner,
                        const std::array<Channel *, 4> &channels)
{
    installSandbox(lua);
    installChannels(lua, channels);
    installArgs(lua, runner);
}

void ScriptApi::installArgs(lua_State *lua, ScriptRunner *runner)
{
    // A table the script reads but cannot change: what the run was given stays what it was.
    lua_newtable(lua);
    lua_newtable(lua);
    lua_newtable(lua);
    for (const auto &[name, value] : qAsConst(runner->m_args)) {
        const QByteArray text = value.toUtf8();
        lua_pushlstring(lua, text.constData(), size_t(text.size()));
        lua_setfield(lua, -2, name.toUtf8().constData());
    }
    lua_setfield(lua, -2, "__index");
    lua_pushcfunction(lua, &ScriptApi::refuseArgWrite);
    lua_setfield(lua, -2, "__newindex");
    lua_pushliteral(lua, "args is read-only");
    lua_setfield(lua, -2, "__metatable");
    lua_setmetatable(lua, -2);
    lua_setglobal(lua, "args");
}

int ScriptApi::refuseArgWrite(lua_State *lua)
{
    return luaL_error(lua, "args is read-only: the run's --arg values cannot be changed");
}

void ScriptApi::installSandbox(lua_State *lua)
{
    const std::pair<const char *, lua_CFunction> libraries[]
        = { { LUA_GNAME, luaopen_base },
            { LUA_STRLIBNAME, luaopen_string },
            { LUA_TABLIBNAME, luaopen_table },
            { LUA_MATHLIBNAME, luaopen_math },
            { LUA_UTF8LIBNAME, luaopen_utf8 } };
    for (const auto &[name, open] : libraries) {
        luaL_requiref(lua, name, open, 1);
        lua_pop(lua, 1);
    }
    // Of os, only what tells the time.
    luaL_requiref(lua, LUA_OSLIBNAME, luaopen_os, 0);
    pushRefusingTable(lua, "os");
    for (const char *kept : { "time", "clock", "date" }) {
        lua_getfield(lua, -2, kept);
        lua_setfield(lua, -2, kept);
    }
    lua_setglobal(lua, "os");
    lua_pop(lua, 1);
    for (const char *library : { "io", "package", "debug" }) {
        pushRefusingTable(lua, library);
        lua_setglobal(lua, library);
    }
    for (const char *function : { "require", "dofile", "loadfile" })
        setRefusedGlobal(lua, function);
    lua_getglobal(lua, LUA_STRLIBNAME);
    lua_pushstring(lua, "string.dump");
    lua_pushcclosure(lua, &ScriptApi::refuse, 1);
    lua_setfield(lua, -2, "dump");
    lua_pop(lua, 1);
    lua_getglobal(lua, "load");
    lua_pushcclosure(lua, &ScriptApi::load, 1);
    lua_setglobal(lua, "load");
}

void ScriptApi::installChannels(lua_State *lua, const std::array<Channel *, 4> &channels)
{
    const luaL_Reg common[]
        = { { "send", send },         { "sendhex", sendHex }, { "expect", expect },
            { "readline", readline }, { "discard", discard }, { "state", stateName },
            { nullptr, nullptr } };
    const luaL_Reg serialOnly[]
        = { { "open", open },    { "close", close },        { "dtr", dtr },
            { "rts", rts },      { "lines", controlLines }, { "sendbreak", sendBreak },
            { nullptr, nullptr } };
    const luaL_Reg networkOnly[]
        = { { "connect", connectLink }, { "disconnect", close }, { nullptr, nullptr } };
    for (const bool serial : { true, false }) {
        luaL_newmetatable(lua, serial ? serialType : networkType);
        lua_newtable(lua);
        luaL_setfuncs(lua, common, 0);
        luaL_setfuncs(lua, serial ? serialOnly : networkOnly, 0);
        lua_setfield(lua, -2, "__index");
        lua_pushcfunction(lua, name);
        lua_setfield(lua, -2, "__tostring");
        lua_pop(lua, 1);
    }
    for (int i = 0; i < int(channels.size()); ++i) {
        if (!channels[size_t(i)])
            continue;
        *static_cast<int *>(lua_newuserdatauv(lua, sizeof(int), 0)) = i;
        luaL_setmetatable(lua, i == 0 ? serialType : networkType);
        lua_setglobal(lua, globalNames[i]);
    }
    const luaL_Reg globals[]
        = { { "sleep", sleep }, { "check", check },       { "test", test },    { "note", note },
            { "print", note },  { "elapsed", elapsedMs }, { nullptr, nullptr } };
    lua_pushglobaltable(lua);
    luaL_setfuncs(lua, globals, 0);
    lua_pop(lua, 1);
}

int ScriptApi::refuse(lua_State *lua)
{
    return luaL_error(lua, refusal, lua_tostring(lua, lua_upvalueindex(1)));
}

int ScriptApi::refuseField(lua_State *lua)
{
    lua_pushfstring(lua, "%s.%s", lua_tostring(lua, lua_upvalueindex(1)),
                    luaL_tolstring(lua, 2, nullptr));
    return luaL_error(lua, refusal, lua_tostring(lua, -1));
}

// Lua's load, for text chunks only.
int ScriptApi::load(lua_State *lua)
{
    const int given = lua_gettop(lua);
    // Arguments not given are nil, as Lua's load takes them, not what is pushed above them.
    lua_settop(lua, 4);
    if (lua_type(lua, 1) == LUA_TSTRING && lua_tostring(lua, 1)[0] == LUA_SIGNATURE[0])
        return luaL_error(lua, "binary chunks are not allowed in a script");
    lua_pushvalue(lua, lua_upvalueindex(1));
    lua_pushvalue(lua, 1);
    lua_pushvalue(lua, 2);
    lua_pushliteral(lua, "t");
    // A missing environment is the script's own; a nil one is nil.
    if (given >= 4)
        lua_pushvalue(lua, 4);
    lua_call(lua, given >= 4 ? 4 : 3, 2);
    if (lua_isnil(lua, -2) && std::strstr(lua_tostring(lua, -1), "binary chunk"))
        return luaL_error(lua, "binary chunks are not allowed in a script");
    return 2;
}

int ScriptApi::channelIndex(lua_State *lua)
{
    void *data = luaL_testudata(lua, 1, serialType);
    if (!data)
        data = luaL_testudata(lua, 1, networkType);
    if (!data)
        return luaL_typeerror(lua, 1, "channel");
    if (runner(lua)->m_closing)
        return luaL_error(lua, "the script has ended");
    return *static_cast<int *>(data);
}

qint64 ScriptApi::milliseconds(lua_State *lua, int argument, qint64 fallback, const char *what)
{
    if (lua_isnoneornil(lua, argument))
        return fallback;
    int isNumber = 0;
    const lua_Number ms = lua_tonumberx(lua, argument, &isNumber);
    if (!isNumber || !(ms >= 0 && ms <= lua_Number(maxWaitMs)))
        luaL_error(lua, "%s must be a number of milliseconds from 0 to %I", what,
                   lua_Integer(maxWaitMs));
    return qint64(ms);
}

int ScriptApi::finishCall(lua_State *lua, int call)
{
    // Past its limit a script goes no further, whatever it calls.
    ScriptRunner *r = runner(lua);
    if (!r->m_timedOut.isEmpty() && r->m_apiError.isEmpty()) {
        r->m_apiError = r->m_timedOut.toUtf8();
        return raise(lua);
    }
    if (call == int(ScriptRunner::Call::Wait))
        return lua_yieldk(lua, 0, 0, &ScriptApi::afterWait);
    return afterWait(lua, LUA_OK, 0);
}

int ScriptApi::afterWait(lua_State *lua, int, intptr_t)
{
    if (!runner(lua)->m_apiError.isEmpty())
        return raise(lua);
    return runner(lua)->pushResults(lua);
}

int ScriptApi::raise(lua_State *lua)
{
    ScriptRunner *r = runner(lua);
    luaL_where(lua, 1);
    lua_pushlstring(lua, r->m_apiError.constData(), size_t(r->m_apiError.size()));
    r->m_apiError.clear();
    lua_concat(lua, 2);
    return lua_error(lua);
}

int ScriptApi::sleep(lua_State *lua)
{
    const qint64 ms = milliseconds(lua, 1, -1, "the time to sleep");
    if (ms < 0)
        return luaL_argerror(lua, 1, "milliseconds expected");
    return finishCall(lua, int(runner(lua)->beginSleep(ms)));
}

int ScriptApi::check(lua_State *lua)
{
    luaL_checkany(lua, 1);
    const bool passed = lua_toboolean(lua, 1);
    const char *name = luaL_optstring(lua, 2, nullptr);
    lua_Debug caller;
    const bool known = lua_getstack(lua, 1, &caller) && lua_getinfo(lua, "Sl", &caller);
    runner(lua)->recordCheck(passed, name, known ? caller.short_src : "?",
                             known ? caller.currentline : -1);
    lua_pushboolean(lua, passed);
    return 1;
}

int ScriptApi::note(lua_State *lua)
{
    const int count = lua_gettop(lua);
    luaL_checkstack(lua, 2 * count, "too many values to note");
    for (int i = 1; i <= count; ++i) {
        luaL_tolstring(lua, i, nullptr);
        if (i < count)
            lua_pushliteral(lua, " ");
    }
    lua_concat(lua, count ? 2 * count - 1 : 0);
    size_t size = 0;
    const char *text = lua_tolstring(lua, -1, &size);
    runner(lua)->note(text, size);
    return 0;
}

int ScriptApi::elapsedMs(lua_State *lua)
{
    lua_pushinteger(lua, runner(lua)->m_clock.elapsed());
    return 1;
}

int ScriptApi::sendAs(lua_State *lua, bool hex)
{
    const int index = channelIndex(lua);
    size_t size = 0;
    const char *text = luaL_checklstring(lua, 2, &size);
    return finishCall(lua, int(runner(lua)->sendOn(index, text, size, hex)));
}

int ScriptApi::send(lua_State *lua)
{
    return sendAs(lua, false);
}

int ScriptApi::sendHex(lua_State *lua)
{
    return sendAs(lua, true);
}

void ScriptApi::addQuery(lua_State *lua, int at, int number)
{
    at = lua_absindex(lua, at);
    const int top = lua_gettop(lua);
    size_t size = 0;
    const char *text = nullptr;
    bool pattern = false;
    if (lua_type(lua, at) == LUA_TSTRING) {
        text = lua_tolstring(lua, at, &size);
    } else if (lua_istable(lua, at)) {
        pattern = lua_getfield(lua, at, "pattern") != LUA_TNIL;
        const bool plain = lua_getfield(lua, at, "text") != LUA_TNIL;
        if (pattern == plain || !lua_isstring(lua, pattern ? -2 : -1))
            luaL_error(lua,
                       "alternative %d must be a string, or a table with either pattern or "
                       "text",
                       number);
        text = lua_tolstring(lua, pattern ? -2 : -1, &size);
    } else {
        luaL_error(lua, "alternative %d must be a string, or a table with either pattern or text",
                   number);
    }
    runner(lua)->m_queries.append({ QByteArray(text, int(size)), pattern });
    lua_settop(lua, top);
}

int ScriptApi::expect(lua_State *lua)
{
    const int index = channelIndex(lua);
    ScriptRunner *r = runner(lua);
    r->m_queries.clear();
    // Several alternatives: the table's list.
    if (lua_istable(lua, 2) && lua_rawlen(lua, 2) > 0) {
        const auto count = lua_Integer(lua_rawlen(lua, 2));
        for (lua_Integer i = 1; i <= count; ++i) {
            lua_rawgeti(lua, 2, i);
            addQuery(lua, -1, int(i));
            lua_settop(lua, 2);
        }
        lua_getfield(lua, 2, "timeout");
        const qint64 ms = milliseconds(lua, 3, defaultTimeoutMs, "the timeout");
        return finishCall(lua, int(r->beginExpect(index, true, ms)));
    }
    int timeout = 3;
    if (lua_istable(lua, 2)) {
        const bool pattern = lua_getfield(lua, 2, "pattern") != LUA_TNIL;
        const bool text = lua_getfield(lua, 2, "text") != LUA_TNIL;
        if (pattern == text)
            return luaL_argerror(lua, 2, "a table with either pattern or text expected");
        if (!lua_isstring(lua, pattern ? -2 : -1))
            return luaL_argerror(
                lua, 2, pattern ? "the pattern must be a string" : "the text must be a string");
        lua_settop(lua, 2);
        addQuery(lua, 2, 1);
        lua_getfield(lua, 2, "timeout");
    } else {
        luaL_checkstring(lua, 2);
        addQuery(lua, 2, 1);
        timeout = 3;
    }
    const qint64 ms = milliseconds(lua, timeout, defaultTimeoutMs, "the timeout");
    return finishCall(lua, int(r->beginExpect(index, false, ms)));
}

int ScriptApi::readline(lua_State *lua)
{
    const int index = channelIndex(lua);
    const qint64 ms = milliseconds(lua, 2, defaultTimeoutMs, "the timeout");
    return finishCall(lua, int(runner(lua)->beginReadline(index, ms)));
}

int ScriptApi::test(lua_State *lua)
{
    size_t size = 0;
    const char *name = luaL_checklstring(lua, 1, &size);
    luaL_checktype(lua, 2, LUA_TFUNCTION);
    lua_settop(lua, 2);
    lua_Debug caller;
    const bool known = lua_getstack(lua, 1, &caller) && lua_getinfo(lua, "Sl", &caller);
    const auto call
        = runner(lua)->beginTest(QString::fromUtf8(name, int(size)), known ? caller.short_src : "?",
                                 known ? caller.currentline : -1);
    if (call == ScriptRunner::Call::Fail)
        return raise(lua);
    // An error inside fails the test and the script goes on; the test may wait as the script
    // does, so the call can yield.
    lua_pushcfunction(lua, &ScriptApi::keepTraceback);
    lua_pushvalue(lua, 2);
    return afterTest(lua, lua_pcallk(lua, 0, 0, 3, 0, &ScriptApi::afterTest), 0);
}

int ScriptApi::keepTraceback(lua_State *lua)
{
    luaL_traceback(lua, lua, nullptr, 1);
    runner(lua)->m_traceback = QString::fromUtf8(lua_tostring(lua, -1));
    lua_pop(lua, 1);
    return 1;
}

int ScriptApi::afterTest(lua_State *lua, int status, intptr_t)
{
    ScriptRunner *r = runner(lua);
    if (status == LUA_OK || status == LUA_YIELD) {
        r->endTest(nullptr);
        return 0;
    }
    const char *message = lua_tostring(lua, -1);
    r->endTest(message ? message : "(error object is not a string)");
    // The time limit ends the script, not only the test it was in.
    if (!r->m_timedOut.isEmpty())
        return lua_error(lua);
    return 0;
}

int ScriptApi::discard(lua_State *lua)
{
    runner(lua)->m_buffers[size_t(channelIndex(lua))].discard();
    return 0;
}

int ScriptApi::stateName(lua_State *lua)
{
    const int index = channelIndex(lua);
    lua_pushstring(lua, linkStateNames[int(runner(lua)->channel(index)->linkState())]);
    return 1;
}

int ScriptApi::name(lua_State *lua)
{
    const int index = channelIndex(lua);
    return finishCall(lua, int(runner(lua)->channelName(index)));
}

int ScriptApi::open(lua_State *lua)
{
    channelIndex(lua);
    return finishCall(lua, int(runner(lua)->openSerial()));
}

int ScriptApi::close(lua_State *lua)
{
    return finishCall(lua, int(runner(lua)->closeLink(channelIndex(lua))));
}

int ScriptApi::controlLine(lua_State *lua, bool dtr)
{
    channelIndex(lua);
    luaL_checktype(lua, 2, LUA_TBOOLEAN);
    return finishCall(lua, int(runner(lua)->setLine(dtr, lua_toboolean(lua, 2))));
}

int ScriptApi::dtr(lua_State *lua)
{
    return controlLine(lua, true);
}

int ScriptApi::rts(lua_State *lua)
{
    return controlLine(lua, false);
}

int ScriptApi::controlLines(lua_State *lua)
{
    channelIndex(lua);
    return finishCall(lua, int(runner(lua)->readLines()));
}

int ScriptApi::sendBreak(lua_State *lua)
{
    channelIndex(lua);
    const qint64 ms = milliseconds(lua, 2, -1, "the length of the break");
    if (ms < 1 || ms > 60000)
        return luaL_argerror(lua, 2, "milliseconds from 1 to 60000 expected");
    return finishCall(lua, int(runner(lua)->beginBreak(int(ms))));
}

int ScriptApi::connectLink(lua_State *lua)
{
    const int index = channelIndex(lua);
    const char *host = luaL_optstring(lua, 2, nullptr);
    const char *port = luaL_optstring(lua, 3, nullptr);
    return finishCall(lua, int(runner(lua)->beginConnect(index, host, port)));
}
