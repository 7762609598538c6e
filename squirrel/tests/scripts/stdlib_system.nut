// System library: the parts whose results do not depend on the machine or the moment.
local d = date(86400 * 365 + 3723, "u"[0]);
print(d.year + "-" + d.month + "-" + d.day + " " + d.hour + ":" + d.min + ":" + d.sec + " wday " + d.wday + " yday " + d.yday + "\n");
print(typeof time() + " " + typeof clock() + " " + (clock() >= 0) + " " + date().len() + "\n");
print((getenv("SQSTD_CORPUS_SURELY_UNSET_VARIABLE") == null) + "\n");
try { date(0, 'z'); } catch (e) { print(e + "\n"); }
try { remove("/nonexistent-dir/sqstd-file"); } catch (e) { print(e + "\n"); }
try { rename("/nonexistent-dir/a", "/nonexistent-dir/b"); } catch (e) { print(e + "\n"); }
