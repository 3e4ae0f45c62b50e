"""A Modbus TCP server on a free loopback port for the poller's tests.

Serves a fixed data store (addresses as sent, from 0) and writes
"PORT <n>" to stdout once it listens; runs until it is killed.
"""
import asyncio
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import ModbusTcpServer

HOLDING = [0xFFFE, 0x0001, 0x0002, 1234, 0x8000, 40000]
INPUT = [7, 300]
COILS = [1, 0, 1]
DISCRETE = [0, 1]


async def main():
    store = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, COILS),
        di=ModbusSequentialDataBlock(0, DISCRETE),
        hr=ModbusSequentialDataBlock(0, HOLDING),
        ir=ModbusSequentialDataBlock(0, INPUT),
        zero_mode=True)
    server = ModbusTcpServer(ModbusServerContext(slaves=store, single=True),
                             address=("127.0.0.1", 0))
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print("PORT", server.server.sockets[0].getsockname()[1], flush=True)
    await task


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
