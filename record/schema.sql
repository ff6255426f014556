-- The session record: NAME.session beside each live recording NAME.dat.
-- What the recording's bytes cannot hold: when each frame came, what the
-- link and the station did, the alarms, the operator's notes.
--
-- Schema version 2 (PRAGMA user_version = 2), marked as vst_gse's own by
-- PRAGMA application_id = 1447511877 (0x56475345, "VGSE"). A later version
-- only adds tables and columns; a reader refuses a version newer than its
-- own. Version 2 added frames.received; a station opening a version 1
-- record to append to it adds the column.
--
-- Every time (t, started, ...) is in seconds since 1970-01-01 UTC, with a
-- fraction: in SQLite,
--   strftime('%Y-%m-%d %H:%M:%f', t, 'unixepoch', 'localtime')
-- writes it as local time to the millisecond. Every offset is a byte offset
-- in the recording (0: its first byte). docs/session.md has example queries.

-- The recording this record belongs to: one row.
CREATE TABLE recording (
  name       TEXT    NOT NULL,  -- its file name, as the station wrote it ("52121834.dat")
  head_bytes INTEGER NOT NULL,  -- how many of its first bytes head_hash covers (up to 4096)
  head_hash  TEXT    NOT NULL,  -- their FNV-1a 64-bit hash, 16 hex digits
  size       INTEGER NOT NULL   -- the recording's size the record accounts for (its bytes
                                -- up to here are in the record's frames and events)
);

-- Each run of a station that recorded into the recording: one, or more when
-- the station restarted within the minute its name gives (it then appends).
CREATE TABLE runs (
  run           INTEGER PRIMARY KEY,  -- 1, 2, ...
  started       REAL    NOT NULL,
  ended         REAL,                 -- NULL while the run writes, or when it never closed the record (a crash)
  version       TEXT    NOT NULL,     -- vst_gse's version
  mode          TEXT    NOT NULL,     -- 'live', or 'remote view' (a viewer's --record)
  source        TEXT    NOT NULL,     -- live: the device COM1 stood for at the start; remote view: the broker
  device        TEXT    NOT NULL,     -- what identifies that device (adapter, manufacturer, serial number), '' if unknown
  host          TEXT    NOT NULL,     -- the machine
  pid           INTEGER NOT NULL,     -- the station's process
  first_offset  INTEGER NOT NULL,     -- the recording's size when the run began: its bytes start here
  heartbeat     REAL    NOT NULL      -- the run's latest write; a run still open writes it every second
);

-- Every good frame the station showed, in the order it showed them, with
-- the time it showed it: the frames a live panel showed, time-outs and all.
CREATE TABLE frames (
  frame      INTEGER PRIMARY KEY,  -- 0, 1, 2, ... over the whole record
  run        INTEGER NOT NULL,
  t          REAL    NOT NULL,     -- when the station received (and showed) it
  offset     INTEGER,              -- its first byte (the sync word) in the recording; NULL if it never got there
  link_bytes INTEGER,              -- its bytes in the recording, the link's escapes included
  skipped    INTEGER NOT NULL,     -- the Skipped count the panel showed with it
  counter    INTEGER NOT NULL,     -- the frame's own 21-bit counter
  received   REAL                  -- a remote view: when this viewer received it (t is then the
                                   -- station's time); NULL in a live run, where t is that
);

-- What happened on the link and at the station. kind is one of:
--   'link'           the link's state changed; text is the new state ("LINK SILENT (no byte for 3 s)")
--   'port lost'      the device failed or vanished; text names it and the reason
--   'port returned'  it came back; text names it
--   'port switched'  Connect to... moved COM1; text "NEW (was OLD)"
--   'drained'        a run start threw away bytes that waited in the port; bytes is their count
--   'command'        the station sent a command; text says which, bytes its length
--   'limits'         a display's limits changed; text gives them before and after
--   'recording'      a write to the recording failed
--   'note'           the operator's note; text is the note
CREATE TABLE events (
  event  INTEGER PRIMARY KEY,
  run    INTEGER NOT NULL,
  t      REAL    NOT NULL,
  offset INTEGER NOT NULL,  -- the recording's size then: the event came after the bytes before it
  kind   TEXT    NOT NULL,
  text   TEXT    NOT NULL,
  bytes  INTEGER            -- 'drained' and 'command'; NULL otherwise
);
CREATE INDEX events_by_kind ON events (kind, t);

-- The session log, every entry as the station wrote it (NAME.log has the
-- same lines).
CREATE TABLE log (
  entry    INTEGER PRIMARY KEY,
  run      INTEGER NOT NULL,
  t        REAL    NOT NULL,
  offset   INTEGER NOT NULL,  -- the recording's size then
  severity TEXT    NOT NULL,  -- 'INFO', 'WARN' or 'ERROR'
  text     TEXT    NOT NULL
);

-- The alarm list as it last stood: one row per alarm of each run.
CREATE TABLE alarms (
  run             INTEGER NOT NULL,
  alarm           INTEGER NOT NULL,  -- its number in the run's list: 1, 2, ... in the order first raised
  source          TEXT    NOT NULL,  -- 'limit', 'link' or 'recording'
  key             TEXT    NOT NULL,  -- 'HK16', 'link silent', 'not recording'
  what            TEXT    NOT NULL,  -- 'HK16 out of limits', 'link: LINK SILENT'
  severity        TEXT    NOT NULL,  -- 'red' or 'amber': the worst since last raised
  first           REAL    NOT NULL,  -- its cause first seen
  first_offset    INTEGER NOT NULL,  -- the recording's size then: the frame the alarm began at
  last            REAL    NOT NULL,  -- its cause last seen
  occurrences     INTEGER NOT NULL,  -- times its cause arose
  worst           REAL,              -- limits: the value furthest past its limit, as shown; NULL otherwise
  worst_text      TEXT    NOT NULL,  -- '9.9699 V', or ''
  worst_limit     TEXT    NOT NULL,  -- 'above the alarm limit 9.9500 V', or ''
  longest_s       REAL    NOT NULL,  -- link and recording: the longest spell, seconds
  active          INTEGER NOT NULL,  -- 1 while its cause was present
  now             TEXT    NOT NULL,  -- its state in words when last written
  acknowledged    INTEGER NOT NULL,  -- 1 once acknowledged (and not raised again since)
  acknowledged_at REAL,              -- the last acknowledgement, NULL if never
  PRIMARY KEY (run, alarm)
);

-- Every raise, return and acknowledgement of an alarm, as it happened.
-- change is 'raised', 'raised again' (after an acknowledgement), 'again'
-- (its cause came back before one), 'escalated' (amber to red), 'cleared'
-- (its cause has gone) or 'acknowledged'.
CREATE TABLE alarm_events (
  id       INTEGER PRIMARY KEY,
  run      INTEGER NOT NULL,
  alarm    INTEGER NOT NULL,  -- alarms.alarm
  t        REAL    NOT NULL,
  offset   INTEGER NOT NULL,  -- the recording's size then
  change   TEXT    NOT NULL,
  severity TEXT    NOT NULL,  -- the row's severity then: 'red' or 'amber'
  text     TEXT    NOT NULL   -- the alarm and its reading: 'HK00 out of limits: in alarm: 9.9699 V'
);

-- The operator's notes (Ctrl+N, or an event script's --note lines).
CREATE VIEW notes AS SELECT run, t, offset, text FROM events WHERE kind = 'note';
